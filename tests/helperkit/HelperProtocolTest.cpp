#include "helperkit/HelperProtocol.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace qw {
namespace {

using json = nlohmann::json;
using Request = HelperRequest;

HelperResponse succeededOnly() {
    HelperResponse r;
    r.succeeded = true;
    return r;
}

std::string decodingError(std::string_view text, bool request = true) {
    try {
        if (request)
            HelperRequest::fromJson(text);
        else
            HelperResponse::fromJson(text);
    } catch (const HelperDecodingError& e) {
        return e.what();
    }
    return "(decoded)";
}

TEST(PrivilegedVerb, rawValuesAreTheLaunchctlSubcommands) {
    std::string joined;
    for (PrivilegedVerb v : PrivilegedVerb::all()) {
        EXPECT_EQ(PrivilegedVerb::fromRawValue(v.rawValue()), v);
        joined += std::string(v.rawValue()) + "=" + std::string(v.title()) + " ";
    }
    EXPECT_EQ(joined, "bootstrap=Load bootout=Unload enable=Enable disable=Disable kickstart=Start kill=Stop ");
    EXPECT_EQ(PrivilegedVerb::fromRawValue("Kill"), std::nullopt);
    EXPECT_EQ(PrivilegedVerb::fromRawValue("remove"), std::nullopt);
}

TEST(HelperRequest, everyOperationHasItsOneKeyWireForm) {
    const Bytes binary{0x00, 0xFF, 0xC3, 0x28, '<', '/'};
    struct Case {
        Request::Operation operation;
        std::string json;
    };
    const Case cases[] = {
        {Request::Version{}, R"({"version":{}})"},
        {Request::Read{"/a.plist"}, R"({"read":{"path":"/a.plist"}})"},
        {Request::Write{"/a.plist", binary}, R"({"write":{"path":"/a.plist","contents":"AP/DKDwv"}})"},
        {Request::Delete{"/a.plist"}, R"({"delete":{"path":"/a.plist"}})"},
        {Request::RepairPermissions{"/a.plist"}, R"({"repairPermissions":{"path":"/a.plist"}})"},
        {Request::Launchctl{PrivilegedVerb::kickstart, "system", "com.x", std::nullopt},
         R"({"launchctl":{"verb":"kickstart","domain":"system","label":"com.x"}})"},
        {Request::Launchctl{PrivilegedVerb::bootstrap, "system", std::nullopt, "/a.plist"},
         R"({"launchctl":{"verb":"bootstrap","domain":"system","path":"/a.plist"}})"},
        {Request::Launchctl{PrivilegedVerb::kill, "system", std::nullopt, std::nullopt},
         R"({"launchctl":{"verb":"kill","domain":"system"}})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        const Request request{1, c.operation, "load com.x"};
        const std::string data = request.jsonData();
        EXPECT_EQ(json::parse(data), json::parse(R"({"version":1,"reason":"load com.x","operation":)" + c.json + "}"));
        EXPECT_EQ(Request::fromJson(data), request);
    }
}

TEST(HelperRequest, operationNeedsExactlyOneCaseName) {
    const std::string tooMany = "Invalid number of keys found, expected one.";
    struct Case {
        std::string operation;
        std::string error;  // empty: decodes
    };
    const Case cases[] = {
        {R"({})", tooMany},
        {R"({"read":{"path":"/a"},"delete":{"path":"/a"}})", tooMany},
        {R"({"read":{"path":"/a"},"version":null})", tooMany},
        {R"({"unknown":1})", tooMany},
        {R"({"read":{"path":"/a","extra":true},"unknown":1})", ""},
        {R"({"version":{}})", ""},
        {R"("read")", "The key “operation” must be an object."},
        {R"({"read":"/a"})", "The key “operation.read” must be an object."},
        {R"({"read":{}})", "The key “operation.read.path” is missing."},
        {R"({"read":{"path":null}})", "The key “operation.read.path” is null."},
        {R"({"read":{"path":7}})", "The key “operation.read.path” must be a string."},
        {R"({"write":{"path":"/a","contents":"not base64!"}})", "The key “operation.write.contents” is not Base64 data."},
        {R"({"write":{"path":"/a"}})", "The key “operation.write.contents” is missing."},
        {R"({"launchctl":{"verb":"remove","domain":"system"}})", "The key “operation.launchctl.verb” names no launchctl verb the helper runs."},
        {R"({"launchctl":{"verb":"kill"}})", "The key “operation.launchctl.domain” is missing."},
        {R"({"launchctl":{"verb":"kill","domain":"system","label":null,"path":null}})", ""},
        {R"({"launchctl":{"verb":"kill","domain":"system","label":5}})",
         "The key “operation.launchctl.label” must be a string."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.operation);
        const std::string text = R"({"version":1,"reason":"r","operation":)" + c.operation + "}";
        EXPECT_EQ(decodingError(text), c.error.empty() ? "(decoded)" : c.error);
    }
}

TEST(HelperRequest, topLevelKeysAreRequiredAndVersionIsAnInteger) {
    const std::string op = R"("operation":{"version":{}})";
    struct Case {
        std::string text;
        std::string error;
    };
    const Case cases[] = {
        {"{" + op + R"(,"reason":"r"})", "The key “version” is missing."},
        {R"({"version":1,"reason":"r"})", "The key “operation” is missing."},
        {R"({"version":1,)" + op + "}", "The key “reason” is missing."},
        {R"({"version":null,"reason":"r",)" + op + "}", "The key “version” is null."},
        {R"({"version":1.5,"reason":"r",)" + op + "}",
         "The key “version” must be an integer from -2147483648 to 2147483647."},
        {R"({"version":"1","reason":"r",)" + op + "}",
         "The key “version” must be an integer from -2147483648 to 2147483647."},
        {R"({"version":4294967296,"reason":"r",)" + op + "}",
         "The key “version” must be an integer from -2147483648 to 2147483647."},
        {R"({"version":2,"reason":"r","extra":[],)" + op + "}", "(decoded)"},
        {"[1]", "The request is not a JSON object."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(decodingError(c.text), c.error);
    }
    EXPECT_EQ(decodingError("{\"version\":"), "The request is not valid JSON: the text breaks off or goes wrong at byte 12.");
    EXPECT_EQ(decodingError(R"({"version":1e999,"reason":"r",)" + op + "}"),
              "The request is not valid JSON: it holds a number too large to read.");
    // A wrong version still decodes; refusing it is the helper's decision.
    EXPECT_EQ(Request::fromJson(R"({"version":2,"reason":"r",)" + op + "}").version, 2);
}

TEST(HelperRequest, invalidUtf8InTextIsReplacedNotFatal) {
    const Request request{1, Request::Delete{"/Library/LaunchDaemons/bad\xFFname.plist"}, "delete bad\xFF"};
    const auto decoded = Request::fromJson(request.jsonData());
    EXPECT_EQ(std::get<Request::Delete>(decoded.operation).path, "/Library/LaunchDaemons/bad\xEF\xBF\xBDname.plist");
    EXPECT_EQ(decoded.reason, "delete bad\xEF\xBF\xBD");
}

TEST(HelperResponse, optionalFieldsAreLeftOutAndNullReadsAsAbsent) {
    EXPECT_EQ(HelperResponse::fromJson(R"({"succeeded":true})"), succeededOnly());
    EXPECT_EQ(HelperResponse::fromJson(
                  R"({"succeeded":true,"contents":null,"standardOutput":null,"standardError":null,"exitStatus":null,"message":null,"helperVersion":null,"other":1})"),
              succeededOnly());
    EXPECT_EQ(HelperResponse::failure("No.").jsonData(), R"({"succeeded":false,"message":"No."})");
    EXPECT_EQ(succeededOnly().jsonData(), R"({"succeeded":true})");

    HelperResponse full{true, Bytes{1, 2, 0xFF}, "out", "err", -2147483647 - 1, "m", "1.0"};
    EXPECT_EQ(HelperResponse::fromJson(full.jsonData()), full);
}

TEST(HelperResponse, decodingErrorsNameTheKey) {
    struct Case {
        std::string text;
        std::string error;
    };
    const Case cases[] = {
        {R"({})", "The key “succeeded” is missing."},
        {R"({"succeeded":1})", "The key “succeeded” must be true or false."},
        {R"({"succeeded":true,"exitStatus":2147483648})",
         "The key “exitStatus” must be an integer from -2147483648 to 2147483647."},
        {R"({"succeeded":true,"exitStatus":-2147483649})",
         "The key “exitStatus” must be an integer from -2147483648 to 2147483647."},
        {R"({"succeeded":true,"exitStatus":1.0})",
         "The key “exitStatus” must be an integer from -2147483648 to 2147483647."},
        {R"({"succeeded":true,"contents":"@@@@"})", "The key “contents” is not Base64 data."},
        {R"({"succeeded":true,"message":[]})", "The key “message” must be a string."},
        {R"("x")", "The reply is not a JSON object."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(decodingError(c.text, false), c.error);
    }
}

TEST(HelperResponse, replyWithInvalidUtf8KeepsItsRealMessage) {
    HelperResponse reply = HelperResponse::failure("Could not read bad\xC3name.plist");
    reply.standardOutput = std::string("\xFF\xFE");
    const std::string data = reply.jsonData();
    EXPECT_NE(data, HelperService::unreadableReply);
    const auto decoded = HelperResponse::fromJson(data);
    EXPECT_EQ(decoded.message, "Could not read bad\xEF\xBF\xBDname.plist");
    EXPECT_EQ(decoded.standardOutput, "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(HelperService, unreadableReplyDecodesAsAFailure) {
    const auto reply = HelperResponse::fromJson(HelperService::unreadableReply);
    EXPECT_FALSE(reply.succeeded);
    EXPECT_EQ(reply.message, "The helper produced an unreadable reply.");
}

// The fuzzers' seeds: every one that decodes survives encoding unchanged.
TEST(HelperProtocol, seedCorpusRoundTrips) {
    const std::filesystem::path corpus = std::filesystem::path(QUILLWICK_SOURCE_DIR) / "fuzz/corpus";
    int decoded = 0;
    for (const char* name : {"fuzz_helper_request", "fuzz_helper_response"}) {
        for (const auto& entry : std::filesystem::directory_iterator(corpus / name)) {
            SCOPED_TRACE(entry.path().string());
            std::ifstream in(entry.path(), std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            try {
                if (std::string_view(name) == "fuzz_helper_request") {
                    const auto request = HelperRequest::fromJson(text.str());
                    EXPECT_EQ(HelperRequest::fromJson(request.jsonData()), request);
                } else {
                    const auto reply = HelperResponse::fromJson(text.str());
                    EXPECT_EQ(HelperResponse::fromJson(reply.jsonData()), reply);
                }
                ++decoded;
            } catch (const HelperDecodingError&) {
            }
        }
    }
    EXPECT_GE(decoded, 10);
}

}  // namespace
}  // namespace qw
