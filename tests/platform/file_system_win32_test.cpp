// The Windows document files: hidden while written, moved over a document
// that another program holds for a moment, never left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace dls2mml {
namespace {

class Folder {
public:
    explicit Folder(const std::string& name)
    {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        path_ = std::string(temp) + name + "-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~Folder()
    {
        for (const std::string& entry : entries()) DeleteFileA((path_ + "\\" + entry).c_str());
        RemoveDirectoryA(path_.c_str());
    }
    const std::string& path() const { return path_; }
    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        const HANDLE search = FindFirstFileA((path_ + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return names;
        do {
            const std::string name = found.cFileName;
            if (name != "." && name != "..") names.push_back(name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
        return names;
    }

private:
    std::string path_;
};

std::string contents(const std::string& path)
{
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(cannot open)";
    char buffer[256];
    DWORD got = 0;
    ReadFile(file, buffer, sizeof buffer, &got, nullptr);
    CloseHandle(file);
    return std::string(buffer, got);
}

void put(const std::string& path, const std::string& text)
{
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

bool hidden(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN);
}

IoStatus writeDocument(OutputFile& file, const std::string& text)
{
    return file.write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

TEST(DocumentFile, TemporaryHiddenDocumentNot)
{
    // Short and near-limit targets (the latter gets a temporary of another form).
    Folder folder("dls2mml-hidden");
    const std::string deep = folder.path() + "\\" + std::string(240 - folder.path().size(), 'd');
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    for (const std::string& target : {folder.path() + "\\a_dls.mml", deep + "\\t_dls.mml"}) {
        SCOPED_TRACE(target.size());
        std::unique_ptr<OutputFile> file;
        ASSERT_TRUE(createOutputFile(target, file));
        ASSERT_TRUE(writeDocument(*file, "document"));
        EXPECT_TRUE(hidden(file->pendingPath())) << file->pendingPath();
        ASSERT_TRUE(file->commit());
        EXPECT_EQ(contents(target), "document");
        EXPECT_FALSE(hidden(target));
        // As for a file written in place: marked for the next backup.
        EXPECT_TRUE(GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_ARCHIVE);
        DeleteFileA(target.c_str());
    }
    RemoveDirectoryA(deep.c_str());
}

bool isTemporaryName(const std::string& name, const char* prefix, std::size_t letters, const char* suffix)
{
    const std::size_t head = std::strlen(prefix), tail = std::strlen(suffix);
    if (name.size() != head + letters + tail || name.compare(0, head, prefix) != 0 ||
        name.compare(head + letters, tail, suffix) != 0)
        return false;
    for (std::size_t i = head; i < head + letters; ++i)
        if (!((name[i] >= 'a' && name[i] <= 'z') || (name[i] >= '0' && name[i] <= '9'))) return false;
    return true;
}

TEST(DocumentFile, TemporaryNamesAreUnpredictableAndLeftoversNeitherBlockNorGo)
{
    Folder folder("dls2mml-names");
    // Leftovers of earlier runs, in the form names once had (the process
    // number that comes round again) and in today's form.
    std::vector<std::string> leftovers = {".dls2mml-0000000000.tmp", ".dls2mml-aaaaaaaaaa.tmp", "~d000000"};
    for (DWORD pid = 4; pid <= 256; pid += 4) leftovers.push_back(".a_dls.mml." + std::to_string(pid) + "-0.tmp");
    for (const std::string& name : leftovers) put(folder.path() + "\\" + name, "leftover");
    const std::string deep = folder.path() + "\\" + std::string(240 - folder.path().size(), 'd');
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    struct Case {
        std::string target;
        const char* prefix;
        std::size_t letters;
        const char* suffix;
    };
    const Case cases[] = {
        {folder.path() + "\\a_dls.mml", ".dls2mml-", 10, ".tmp"},
        {deep + "\\t_dls.mml", "~", 7, ""}, // the usual form would pass the path limit
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target.size());
        std::set<std::string> names;
        std::vector<std::unique_ptr<OutputFile>> open;
        for (int i = 0; i < 6; ++i) {
            std::unique_ptr<OutputFile> file;
            ASSERT_TRUE(createOutputFile(c.target, file));
            const std::string pending = file->pendingPath();
            const std::string name = pending.substr(pending.find_last_of('\\') + 1);
            EXPECT_TRUE(isTemporaryName(name, c.prefix, c.letters, c.suffix)) << name;
            EXPECT_TRUE(hidden(pending));
            names.insert(name);
            open.push_back(std::move(file));
        }
        EXPECT_EQ(names.size(), 6u) << "every temporary has a name of its own";
        ASSERT_TRUE(writeDocument(*open.back(), "document"));
        ASSERT_TRUE(open.back()->commit());
        open.clear(); // the uncommitted ones remove their temporaries
        EXPECT_EQ(contents(c.target), "document");
        DeleteFileA(c.target.c_str());
    }
    RemoveDirectoryA(deep.c_str());
    std::vector<std::string> left = folder.entries();
    std::vector<std::string> expected = leftovers;
    std::sort(left.begin(), left.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(left, expected) << "leftovers of others are never touched";
}

TEST(DocumentFile, MoveWaitsForAShortHoldOnTheEarlierDocument)
{
    struct Case {
        const char* name;
        int holdMs;        // how long another program holds the earlier document; -1: until after the commit
        bool committed;
    };
    const Case cases[] = {
        {"nobody holds it", 0, true},
        {"held for 150 ms (a scanner's look)", 150, true},
        {"held throughout", -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Folder folder("dls2mml-held");
        const std::string target = folder.path() + "\\a_dls.mml";
        put(target, "earlier");
        std::unique_ptr<OutputFile> file;
        ASSERT_TRUE(createOutputFile(target, file));
        ASSERT_TRUE(writeDocument(*file, "new"));
        // As a virus scanner or a sync client opens it: no sharing of deletion.
        const HANDLE held = c.holdMs != 0 ? CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                        OPEN_EXISTING, 0, nullptr)
                                          : INVALID_HANDLE_VALUE;
        if (c.holdMs != 0) {
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
        }
        std::thread release;
        if (c.holdMs > 0)
            release = std::thread([held, ms = c.holdMs] {
                std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                CloseHandle(held);
            });
        const auto start = std::chrono::steady_clock::now();
        const IoStatus status = file->commit();
        const auto took = std::chrono::steady_clock::now() - start;
        if (release.joinable()) release.join();
        file.reset(); // an uncommitted file removes its temporary here
        if (c.holdMs < 0) CloseHandle(held);
        EXPECT_EQ(static_cast<bool>(status), c.committed) << status.detail;
        EXPECT_EQ(contents(target), c.committed ? "new" : "earlier");
        EXPECT_EQ(folder.entries(), std::vector<std::string>{"a_dls.mml"}) << "the temporary is removed either way";
        if (!c.committed) {
            EXPECT_GE(took, std::chrono::milliseconds(400)) << "tried again for about half a second";
        }
    }
}

TEST(DocumentFile, AFolderThatCannotHoldTheTemporaryIsNamed)
{
    // The message names the folder, without its last separator, wherever the
    // output's folder is the problem.
    Folder folder("dls2mml-nofolder");
    const std::string missing = folder.path() + "\\absent";
    struct Case {
        std::string target;
        std::string named;
    };
    const Case cases[] = {
        {missing + "\\a_dls.mml", missing},
        {missing + "/sub\\a_dls.mml", missing + "/sub"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        std::unique_ptr<OutputFile> file;
        const IoStatus status = createOutputFile(c.target, file);
        EXPECT_EQ(status.error, IoError::cannotCreate);
        const std::string want = "cannot create output: cannot create a temporary file in folder " + c.named + ": ";
        EXPECT_EQ(describeIoStatus(status).substr(0, want.size()), want) << describeIoStatus(status);
    }
    EXPECT_TRUE(folder.entries().empty());
}

// The temporary folder's entries now, hidden ones included.
std::set<std::string> temporaryFolderEntries()
{
    char temp[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof temp, temp);
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((std::string(temp, length) + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.insert(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

TEST(StandardOutputSpool, SeeksReadsBackAndLeavesNothingBehind)
{
    const std::set<std::string> before = temporaryFolderEntries();
    std::unique_ptr<OutputFile> spool = standardOutput();
    ASSERT_TRUE(spool->seekable()) << "standard output is spooled to a file that can seek";
    std::vector<std::string> added;
    for (const std::string& name : temporaryFolderEntries())
        if (!before.count(name)) added.push_back(name);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_TRUE(isTemporaryName(added[0], ".dls2mml-", 10, ".tmp")) << added[0];
    // A document's first line is written last, over room left for it.
    ASSERT_TRUE(writeDocument(*spool, "........body"));
    const std::string head = "head";
    ASSERT_TRUE(spool->writeAt(0, {reinterpret_cast<const std::uint8_t*>(head.data()), head.size()}));
    ASSERT_TRUE(writeDocument(*spool, "+tail"));
    std::uint8_t part[4] = {};
    ASSERT_TRUE(spool->readAt(8, part));
    EXPECT_EQ(std::string(part, part + 4), "body");
    std::unique_ptr<InputFile> back = spool->readBack();
    ASSERT_TRUE(back);
    std::string read(64, '\0');
    std::size_t got = 0;
    ASSERT_TRUE(back->read({reinterpret_cast<std::uint8_t*>(read.data()), read.size()}, got));
    EXPECT_EQ(read.substr(0, got), "head....body+tail");
    back.reset();
    spool.reset(); // never committed: nothing reaches standard output
    std::vector<std::string> left;
    for (const std::string& name : temporaryFolderEntries())
        if (!before.count(name)) left.push_back(name);
    EXPECT_TRUE(left.empty()) << "the spool goes with its handle: " << left[0];
}

// UTF-8 to UTF-16 by the system's own converter, apart from the one under test.
std::wstring systemWide(const std::string& text)
{
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), wide.data(),
                            length);
    return wide;
}

std::string readAll(InputFile& file)
{
    std::string text;
    std::uint8_t buffer[64];
    std::size_t got = 0;
    while (file.read(buffer, got) && got > 0) text.append(reinterpret_cast<const char*>(buffer), got);
    return text;
}

TEST(WideNames, EveryNameIsWrittenUnderItsExactWideNameReadBackAndKnownAsItself)
{
    Folder folder("dls2mml-wide");
    const std::string base = folder.path() + "\\";
    // A folder that takes the long path beyond the plain limit of 260 units.
    const std::string deep = base + std::string(200, 'd');
    const std::wstring wideDeep = L"\\\\?\\" + systemWide(deep);
    ASSERT_TRUE(CreateDirectoryW(wideDeep.c_str(), nullptr));
    const std::string names[] = {
        base + "caf\xC3\xA9.dls",                                   // é: no code page 932 form
        base + "\xED\x95\x9C\xEA\xB5\xAD \xEB\xB1\x85\xED\x81\xAC.dls", // Hangul and a space
        base + "\xF0\x9F\x8E\xB9 piano.DLS",                        // an emoji
        base + "\xC4\xB0STANBUL \xE1\xBA\x9E.DLS",                 // İ and ẞ
        base + "\xE8\xA1\xA8\xE3\x82\xBD.dls",                       // a code page 932 name ending in 0x5C there
        deep + "\\" + std::string(80, 'n') + ".dls",                // more than 260 units
    };
    std::vector<FileIdentity> seen;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        std::wstring wide = systemWide(name);
        ASSERT_FALSE(wide.empty());
        if (wide.size() >= MAX_PATH) wide = L"\\\\?\\" + wide;
        {
            std::unique_ptr<OutputFile> output;
            ASSERT_TRUE(createOutputFile(name, output));
            ASSERT_TRUE(writeDocument(*output, name));
            ASSERT_TRUE(output->commit());
        }
        EXPECT_NE(GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_TRUE(pathExists(name));
        std::unique_ptr<InputFile> input;
        ASSERT_TRUE(openInputFile(name, input));
        EXPECT_EQ(readAll(*input), name);
        ASSERT_TRUE(input->identity().known);
        // The same file by its name as output: to be refused by the job.
        std::unique_ptr<OutputFile> again;
        ASSERT_TRUE(createOutputFile(name, again));
        EXPECT_TRUE(input->identity().sameAs(again->identity()));
        // Each file is another while all exist.
        for (const FileIdentity& other : seen) EXPECT_FALSE(input->identity().sameAs(other));
        seen.push_back(input->identity());
    } // the uncommitted outputs' temporaries go
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        std::wstring wide = systemWide(name);
        if (wide.size() >= MAX_PATH) wide = L"\\\\?\\" + wide;
        EXPECT_TRUE(DeleteFileW(wide.c_str()));
        EXPECT_FALSE(pathExists(name));
    }
    EXPECT_TRUE(folder.entries().size() == 1); // the deep folder, nothing left in it either
    EXPECT_TRUE(RemoveDirectoryW(wideDeep.c_str()));
}

TEST(WideNames, BytesThatAreNotUtf8NameNoFile)
{
    Folder folder("dls2mml-not-utf8");
    // Code page 932 bytes of 表ソ: not UTF-8, so no name; never read in the ANSI code page.
    const std::string name = folder.path() + "\\\x95\x5C\x83\x5C.dls";
    std::unique_ptr<InputFile> input;
    EXPECT_EQ(openInputFile(name, input).error, IoError::cannotOpen);
    std::unique_ptr<OutputFile> output;
    EXPECT_EQ(createOutputFile(name, output).error, IoError::cannotCreate);
    EXPECT_TRUE(folder.entries().empty());
}

} // namespace
} // namespace dls2mml
