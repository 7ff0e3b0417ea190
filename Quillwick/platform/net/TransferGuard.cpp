#include "Quillwick/platform/net/TransferGuard.h"

#include <algorithm>
#include <deque>

#include <QElapsedTimer>
#include <QNetworkReply>
#include <QTimer>

namespace qw {
namespace {

constexpr const char* stalledProperty = "qwTransferStalled";

class Guard : public QObject {
public:
    Guard(QNetworkReply* reply, TransferLimits limits) : QObject(reply), reply_(reply), limits_(limits) {
        clock_.start();
        samples_.push_back({0, 0});
        connect(reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) { down_ = received; });
        connect(reply, &QNetworkReply::uploadProgress, this, [this](qint64 sent, qint64) { up_ = sent; });
        connect(reply, &QNetworkReply::finished, &ticks_, &QTimer::stop);
        connect(&ticks_, &QTimer::timeout, this, &Guard::tick);
        // Looked at ten times a window, so that a slow stretch ends within a tenth of a window of its end.
        ticks_.start(std::max<qint64>(10, limits.window.count() / 10));
    }

private:
    struct Sample {
        qint64 at, bytes;
    };

    void tick() {
        const qint64 now = clock_.elapsed(), bytes = down_ + up_;
        samples_.push_back({now, bytes});
        // The newest sample a whole window old is where the window starts.
        const qint64 start = now - limits_.window.count();
        while (samples_.size() > 1 && samples_[1].at <= start)
            samples_.pop_front();
        if (samples_.front().at > start)
            return;
        const qint64 least = limits_.bytesPerSecond * (now - samples_.front().at) / 1000;
        if (bytes - samples_.front().bytes >= least)
            return;
        ticks_.stop();
        reply_->setProperty(stalledProperty, true);
        reply_->abort();
    }

    QNetworkReply* reply_;
    TransferLimits limits_;
    QElapsedTimer clock_;
    QTimer ticks_;
    std::deque<Sample> samples_;
    qint64 down_ = 0, up_ = 0;
};

}  // namespace

void guardTransfer(QNetworkReply* reply, TransferLimits limits) {
    if (reply && !reply->isFinished())
        new Guard(reply, limits);
}

bool transferStalled(const QNetworkReply* reply) { return reply && reply->property(stalledProperty).toBool(); }

}  // namespace qw
