// The Windows document files: hidden while written, moved over a document
// that another program holds for a moment, never left behind.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "shell/file_system.h"

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

} // namespace
} // namespace dls2mml
