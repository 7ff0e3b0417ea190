// TransferGuard: ends a network transfer that stays below a small rate for a whole window, as download
// tools do with their low-speed limit. Qt's transfer timeout counts only silence, so a server sending a
// byte now and then would hold a request for ever. Silence is the slowest trickle and ends the same
// way, from the moment the request starts, so a server that never answers ends too.
//
// Usage: guardTransfer(reply) right after get() or post(). A reply that trips is aborted, so it finishes
// with QNetworkReply::OperationCanceledError, as after Qt's own timeout; transferStalled(reply) then
// tells it apart from an abort of the caller's own.
#pragma once

#include <chrono>

#include <QtGlobal>

class QNetworkReply;

namespace qw {

struct TransferLimits {
    std::chrono::milliseconds window{std::chrono::seconds(30)};
    qint64 bytesPerSecond = 1024;  // up and down together
};

// Watches `reply` until it is destroyed.
void guardTransfer(QNetworkReply* reply, TransferLimits limits = {});
bool transferStalled(const QNetworkReply* reply);

}  // namespace qw
