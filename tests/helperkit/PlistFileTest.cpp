#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "support/SandboxRoot.h"
#include "helperkit/PlistFile.h"

namespace qw {
namespace {

namespace fs = std::filesystem;

fs::path fixture(const std::string& name) { return fs::path(QUILLWICK_TEST_DATA) / "plist" / name; }

PlistFile::ReadError readError(const std::function<void()>& read) {
    try {
        read();
    } catch (const PlistFile::ReadError& e) {
        return e;
    }
    ADD_FAILURE() << "read without error";
    return PlistFile::ReadError(PlistFile::ReadError::Kind::unreadable, "");
}

TEST(PlistFile, eachFormatIsWrittenBackInItself) {
    const PlistFile binary = PlistFile::read(fixture("job.bplist"));
    const PlistFile xml = PlistFile::read(fixture("job.xml"));
    EXPECT_EQ(binary.format, PlistFormat::binary);
    EXPECT_EQ(xml.format, PlistFormat::xml);
    EXPECT_EQ(binary.data().substr(0, 8), "bplist00");
    EXPECT_EQ(xml.data(), test::readFile(fixture("job.xml")));
    EXPECT_EQ(binary.xmlText(), xml.data());
    EXPECT_EQ(PlistFile::fromData(binary.data(), "x.plist"), binary);
}

TEST(PlistFile, equalityAndHashCoverFormat) {
    const PlistFile xml = PlistFile::read(fixture("job.xml"));
    PlistFile binary = xml;
    binary.format = PlistFormat::binary;
    EXPECT_NE(xml, binary);
    binary.format = PlistFormat::xml;
    EXPECT_EQ(xml, binary);
    EXPECT_EQ(xml.hash(), binary.hash());
}

TEST(PlistFile, settingAbsentRemovesTheKey) {
    PlistFile file = PlistFile::read(fixture("job.xml"));
    ASSERT_TRUE(file["RunAtLoad"].has_value());
    file.set("RunAtLoad", std::nullopt);
    file.set("Disabled", PlistValue(true));
    EXPECT_FALSE(file["RunAtLoad"].has_value());
    const std::string bytes = file.data();
    EXPECT_EQ(bytes.find("RunAtLoad"), std::string::npos);
    const auto keys = PlistFile::fromData(bytes, "x.plist").root.keys();
    EXPECT_EQ(keys.front(), "Label");
    EXPECT_EQ(keys.back(), "Disabled");
}

TEST(PlistFile, oldTextFormReadsButCannotBeWritten) {
    const PlistFile file = PlistFile::read(fixture("oldstyle.plist"));
    EXPECT_EQ(file.format, PlistFormat::openStep);
    EXPECT_EQ(file["Label"], PlistValue("com.example.legacy"));
    EXPECT_THROW(file.data(), PlistWriteError);
    EXPECT_EQ(PlistFile::fromText(file.xmlText(), "x.plist").root, file.root);
}

TEST(PlistFile, readErrorsSayWhatWentWrong) {
    using Kind = PlistFile::ReadError::Kind;
    auto array = readError([] { PlistFile::read(fixture("array-top.xml")); });
    EXPECT_EQ(array.kind(), Kind::notADictionary);
    EXPECT_STREQ(array.what(),
                 "array-top.xml is a property list, but not a dictionary. A launchd job has to be a dictionary of "
                 "keys at the top level.");
    EXPECT_EQ(readError([] { PlistFile::read(fixture("array-top.bplist")); }).kind(), Kind::notADictionary);
    EXPECT_EQ(readError([] { PlistFile::fromText("\"just words\"", "/a/words.plist"); }).kind(), Kind::notADictionary);

    auto garbage = readError([] { PlistFile::read(fixture("not-a-plist.txt")); });
    EXPECT_EQ(garbage.kind(), Kind::unreadable);
    EXPECT_EQ(std::string(garbage.what()), "Could not read not-a-plist.txt: " + garbage.underlying());
    EXPECT_FALSE(garbage.underlying().empty());

    auto missing = readError([] { PlistFile::read("/nonexistent/folder/com.example.gone.plist"); });
    EXPECT_EQ(missing.kind(), Kind::unreadable);
    EXPECT_EQ(missing.path(), "/nonexistent/folder/com.example.gone.plist");
    EXPECT_EQ(std::string(missing.what()).rfind("Could not read com.example.gone.plist: ", 0), 0u) << missing.what();

    auto nothing = readError([] { PlistFile::fromData(std::string("bplist00") + std::string(33, '\0'), "n.plist"); });
    EXPECT_EQ(nothing.kind(), Kind::unreadable);
}

TEST(PlistFile, onlyRegularFilesAreRead) {
    test::TemporaryFolder folder;
    const fs::path fifo = folder.path() / "pipe.plist";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Opening a FIFO would wait for a writer; the reader must refuse instead of hanging.
    EXPECT_EQ(readError([&] { PlistFile::read(fifo); }).kind(), PlistFile::ReadError::Kind::unreadable);
    EXPECT_EQ(readError([&] { PlistFile::read(folder.path()); }).kind(), PlistFile::ReadError::Kind::unreadable);
}

TEST(PlistFile, writeReplacesTheFileWhole) {
    test::TemporaryFolder folder;
    const fs::path target = folder.path() / "com.example.job.plist";
    PlistFile file = PlistFile::read(fixture("job.bplist"));
    file.write(target);
    EXPECT_EQ(PlistFile::read(target), file);
    file.set("Label", PlistValue("com.example.renamed"));
    file.write(target);
    EXPECT_EQ(PlistFile::read(target)["Label"], PlistValue("com.example.renamed"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1)
        << "nothing left aside";

    PlistFile old = PlistFile::read(fixture("oldstyle.plist"));
    EXPECT_THROW(old.write(target), PlistWriteError);
    EXPECT_EQ(PlistFile::read(target)["Label"], PlistValue("com.example.renamed")) << "the old file stays";
}

// Every fixture and fuzz seed reads or fails as a ReadError, and what reads survives a round trip.
TEST(PlistFile, corpusReadsOrFailsCleanly) {
    std::vector<fs::path> files;
    auto collect = [&](const fs::path& folder) {
        if (fs::exists(folder))
            for (const auto& entry : fs::recursive_directory_iterator(folder))
                if (entry.is_regular_file()) files.push_back(entry.path());
    };
    collect(fs::path(QUILLWICK_TEST_DATA) / "plist");
    for (const char* name : {"fuzz_plist_xml", "fuzz_plist_binary", "fuzz_plist_text"})
        collect(fs::path(QUILLWICK_SOURCE_DIR) / "fuzz/corpus" / name);
    ASSERT_GT(files.size(), 5u);
    for (const auto& path : files) {
        try {
            PlistFile file = PlistFile::read(path);
            const PlistFormat again = file.format == PlistFormat::openStep ? PlistFormat::xml : file.format;
            const std::string bytes = PlistCodec::write(file.root, again);
            // Compared as bytes: a NaN read back is the same NaN, yet equals nothing.
            EXPECT_EQ(PlistCodec::write(PlistFile::fromData(bytes, path).root, again), bytes) << path;
        } catch (const PlistFile::ReadError&) {
        } catch (const PlistWriteError&) {
        }
    }
}

}  // namespace
}  // namespace qw
