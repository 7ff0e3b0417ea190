// Shared by the feedback tests: a bundle Info.plist of the test's own, a scripted attestation service and
// a local support server.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <vector>
#include <fstream>
#include <memory>

#include "Quillwick/feedback/AttestService.h"
#include "Quillwick/feedback/FeedbackService.h"
#include "helperkit/PlistCodec.h"
#include "support/LocalHttpServer.h"

namespace qw::test {

// An Info.plist in a temporary bundle, installed for as long as the object lives.
class TestBundle {
public:
    explicit TestBundle(const PlistDictionary& info)
    {
        const QString path = dir_.filePath(QStringLiteral("Info.plist"));
        std::ofstream(path.toStdString(), std::ios::binary) << PlistCodec::writeXml(info);
        override_.emplace(path);
    }

private:
    QTemporaryDir dir_;
    std::optional<FeedbackService::InfoPlistOverride> override_;
};

inline constexpr const char* testSecret = "s3cr3t";

inline PlistDictionary configuredInfo()
{
    return PlistDictionary{{"CFBundleName", "Quillwick"},
                           {"CFBundleDisplayName", "Job Tool"},
                           {"CFBundleShortVersionString", "2.1"},
                           {"CFBundleVersion", "57"},
                           {"SupportSecret", testSecret}};
}

// Answers the n-th call of each kind at once with the n-th queued value (nothing past the end).
class FakeAttestService final : public AttestService {
public:
    bool supported = true;
    std::vector<std::optional<QString>> keys;
    std::vector<std::optional<QByteArray>> attestations;
    std::vector<std::optional<QByteArray>> assertions;
    int generateCalls = 0, attestCalls = 0, assertionCalls = 0;
    QByteArray lastAttestHash, lastAssertionHash;

    bool isSupported() const override { return supported; }
    void generateKey(std::function<void(std::optional<QString>)> done) override
    {
        done(answer(keys, generateCalls++));
    }
    void attestKey(const QString&, const QByteArray& hash, std::function<void(std::optional<QByteArray>)> done) override
    {
        lastAttestHash = hash;
        done(answer(attestations, attestCalls++));
    }
    void generateAssertion(const QString&, const QByteArray& hash,
                           std::function<void(std::optional<QByteArray>)> done) override
    {
        lastAssertionHash = hash;
        done(answer(assertions, assertionCalls++));
    }

private:
    template <typename T>
    static std::optional<T> answer(const std::vector<std::optional<T>>& queued, int call)
    {
        return std::size_t(call) < queued.size() ? queued[std::size_t(call)] : std::nullopt;
    }
};

using ReceivedRequest = HttpRequest;

// Answers `status` with `replyBody`, or nothing at all when `silent`; a request whose signature does
// not check out gets 400 "bad signature".
class SupportServer : public LocalHttpServer {
public:
    int status = 200;
    QByteArray replyBody;
    bool silent = false;

    SupportServer() : LocalHttpServer([this](const HttpRequest& request) { return answer(request); }) {}
    QUrl url() const { return LocalHttpServer::url(QStringLiteral("/api/support")); }

private:
    std::optional<HttpReply> answer(const HttpRequest& request) const
    {
        if (silent) return std::nullopt;
        const QByteArray expected = FeedbackService::signature(
            QString::fromLatin1(request.headers.value("x-support-timestamp")), request.body, testSecret).toLatin1();
        if (request.headers.value("x-support-signature") != expected) return HttpReply{400, "bad signature"};
        return HttpReply{status, replyBody};
    }
};

}  // namespace qw::test
