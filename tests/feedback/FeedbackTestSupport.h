// Shared by the feedback tests: a bundle Info.plist of the test's own, and a scripted attestation service.
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

inline PlistDictionary configuredInfo()
{
    return PlistDictionary{{"CFBundleName", "Quillwick"},
                           {"CFBundleDisplayName", "Job Tool"},
                           {"CFBundleShortVersionString", "2.1"},
                           {"CFBundleVersion", "57"},
                           {"SupportSecret", "s3cr3t"}};
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

}  // namespace qw::test
