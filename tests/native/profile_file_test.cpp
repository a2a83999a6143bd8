#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "profiles/profile_file.h"
#include "profiles/profile_reader_portable.h"
#include "tests/native/profile_corpus.h"

namespace {

namespace fs = std::filesystem;

class ProfileFolder {
  public:
    explicit ProfileFolder(const char* name) : dir_(fs::temp_directory_path() / name) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    ~ProfileFolder() { fs::remove_all(dir_); }
    std::u16string Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
        return Path(name);
    }
    std::u16string Path(const std::string& name) const { return (dir_ / name).u16string(); }

  private:
    fs::path dir_;
};

const ProfileReader kPortable = {PortableReadProfileText, PortableReadProfileInt};

TEST(ProfileFile, CorpusGivesTheHandWrittenRecords) {
    ProfileFolder folder("padwarden-profile-corpus");
    for (const corpus::File& f : corpus::ProfileFiles()) {
        const std::u16string path = f.written ? folder.Write(f.name, f.bytes) : folder.Path(f.name);
        ProfileRecord got;
        std::memset(&got, 0, sizeof got);
        EXPECT_EQ(LoadProfileFile(path.c_str(), &got), f.accepted ? 1 : 0) << f.name;
        EXPECT_EQ(corpus::Difference(corpus::Expected(f), got), "") << f.name;
    }
}

TEST(ProfileFile, ReaderAnswersEachProbe) {
    ProfileFolder folder("padwarden-profile-reader");
    const std::u16string path = folder.Write("reader.ini", corpus::ReaderFile());
    for (const corpus::TextProbe& p : corpus::TextProbes()) {
        Utf16 out[64];
        std::fill(std::begin(out), std::end(out), u'#');
        const uint32_t n =
            PortableReadProfileText(p.section, p.key, p.fallback, out, p.capacity, path.c_str());
        const std::u16string want(p.want);
        EXPECT_EQ(std::u16string(out), want) << Utf16ToUtf8(p.section, 64) << "/" << Utf16ToUtf8(p.key, 64);
        EXPECT_EQ(n, want.size()) << Utf16ToUtf8(p.key, 64);
        EXPECT_EQ(out[p.capacity], u'#') << "wrote past the buffer for " << Utf16ToUtf8(p.key, 64);
    }
    for (const corpus::IntProbe& p : corpus::IntProbes())
        EXPECT_EQ(PortableReadProfileInt(u"Int", p.key, p.fallback, path.c_str()), p.want)
            << Utf16ToUtf8(p.key, 64);
}

TEST(ProfileFile, UnreadableOrOversizedFilesHaveNoKeys) {
    ProfileFolder folder("padwarden-profile-unreadable");
    const std::string body = "[HEADER]\r\nIniFileVersion=2.0\r\n";
    const std::u16string big = folder.Write("big.ini", body + std::string(kMaxPortableProfileBytes, ';'));
    const std::u16string fits =
        folder.Write("fits.ini", body + std::string(kMaxPortableProfileBytes - body.size(), ';'));
    fs::create_directories(fs::path(folder.Path("folder.ini")));
    Utf16 out[8];
    EXPECT_EQ(PortableReadProfileText(u"HEADER", u"IniFileVersion", u"ERROR", out, 8, big.c_str()), 5u);
    EXPECT_EQ(std::u16string(out), u"ERROR");
    EXPECT_EQ(PortableReadProfileText(u"HEADER", u"IniFileVersion", u"ERROR", out, 8, fits.c_str()), 3u);
    EXPECT_EQ(std::u16string(out), u"2.0");
    EXPECT_EQ(PortableReadProfileInt(u"HEADER", u"IniFileVersion", 9, folder.Path("folder.ini").c_str()), 9u);
    ProfileRecord r = {};
    EXPECT_EQ(LoadProfileFile(folder.Path("folder.ini").c_str(), &r), 0);
}

TEST(ProfileFile, ScrambledFilesStayInsideTheBuffers) {
    ProfileFolder folder("padwarden-profile-scrambled");
    const char pieces[] = "[]=\"' \t\r\n\0\x1a;09xX-+\xEF\xBB\xBF\xFF\xFE\xC3\xE0\x80HEADERIniFileVersion";
    uint32_t seed = 12345;
    for (int round = 0; round < 200; ++round) {
        std::string bytes;
        const int length = round % 7 == 0 ? 2 : 1 + round * 3;
        for (int i = 0; i < length; ++i) {
            seed = seed * 1103515245u + 12345u;
            bytes.push_back(pieces[(seed >> 16) % (sizeof pieces - 1)]);
        }
        if (round % 3 == 0)
            bytes = "[HEADER]\r\nIniFileVersion=" + bytes;
        const std::u16string path = folder.Write("scrambled.ini", bytes);
        for (uint32_t capacity : {1u, 2u, 6u, 32u}) {
            Utf16 out[40];
            std::fill(std::begin(out), std::end(out), u'#');
            const uint32_t n = PortableReadProfileText(u"HEADER", u"IniFileVersion", u"'ERROR'", out,
                                                       capacity, path.c_str());
            ASSERT_LT(n, capacity);
            EXPECT_EQ(out[n], 0);
            EXPECT_EQ(Utf16Length(out, capacity), n);
            EXPECT_EQ(out[capacity], u'#');
        }
        ProfileRecord r = {};
        const int accepted = LoadProfileFile(path.c_str(), &r);
        EXPECT_EQ(r.FileName[0], 0);
        EXPECT_EQ(r.Title[kProfileTitleChars - 1], 0);
        if (!accepted) {
            EXPECT_EQ(r.Title[0], 0);
        }
    }
}

// Records every read; the version is the test's, every other key its default.
struct Recorded {
    std::u16string section, key;
    uint32_t capacity; // 0 for integer reads
};
std::vector<Recorded> g_reads;
std::u16string g_version;
std::u16string g_title; // empty: the key is missing

uint32_t RecordText(const Utf16* section, const Utf16* key, const Utf16* fallback, Utf16* out,
                    uint32_t capacity, const Utf16*) {
    g_reads.push_back({section, key, capacity});
    std::u16string value = std::u16string(key) == u"IniFileVersion" ? g_version : std::u16string(fallback);
    if (std::u16string(key) == u"Title" && !g_title.empty())
        value = g_title;
    CopyUtf16(out, capacity, value.c_str());
    return static_cast<uint32_t>(Utf16Length(out, capacity));
}

uint32_t RecordInt(const Utf16* section, const Utf16* key, int32_t fallback, const Utf16*) {
    g_reads.push_back({section, key, 0});
    return static_cast<uint32_t>(fallback);
}

const ProfileReader kRecording = {RecordText, RecordInt};

TEST(ProfileFile, RejectionLeavesTheRecordAndAcceptanceLeavesTheName) {
    ProfileRecord r;
    std::memset(&r, 0xAB, sizeof r);
    const ProfileRecord before = r;
    for (const char16_t* version : {u"ERROR", u"ERROR-1"}) {
        g_reads.clear();
        g_version = version;
        EXPECT_EQ(LoadProfileFileWith(&kRecording, u"p.ini", &r), 0);
        EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
        EXPECT_EQ(g_reads.size(), 2u) << "nothing is read after a refused version";
    }
    g_version = u"2.0";
    ASSERT_EQ(LoadProfileFileWith(&kRecording, u"p.ini", &r), 1);
    EXPECT_EQ(std::memcmp(r.FileName, before.FileName, sizeof r.FileName), 0);
    EXPECT_EQ(std::u16string(r.Title), u"Untitled");

    EXPECT_EQ(LoadProfileFileWith(&kRecording, u"p.ini", nullptr), 0);
    EXPECT_EQ(LoadProfileFileWith(&kRecording, nullptr, &r), 0);
    EXPECT_EQ(LoadProfileFileWith(nullptr, u"p.ini", &r), 0);
    EXPECT_EQ(LoadProfileFile(u"p.ini", nullptr), 0);
}

TEST(ProfileFile, LongTitlesAreCutWithoutSplittingASurrogatePair) {
    const std::u16string thirty(30, u'a');
    const std::u16string face = u"\U0001F600"; // two units
    struct Case {
        std::u16string title, want;
    } cases[] = {
        {thirty + face, thirty},                                            // the pair would straddle the cut
        {std::u16string(29, u'a') + face, std::u16string(29, u'a') + face}, // ends exactly at 31
        {thirty + u"bc", thirty + u"b"},                                    // plain text is cut at 31
        {face + face, face + face},
    };
    g_version = u"2.0";
    for (const Case& c : cases) {
        g_title = c.title;
        ProfileRecord r = {};
        ASSERT_EQ(LoadProfileFileWith(&kRecording, u"p.ini", &r), 1);
        EXPECT_EQ(std::u16string(r.Title), c.want) << c.title.size();
    }
    g_title.clear();
}

} // namespace
