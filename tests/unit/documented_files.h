// File operations as Windows documents them, in memory, for the rules Wine
// does not follow or a test machine cannot stage: the read-only attribute
// covers every stream of a file; a file deleted while another process holds
// it with delete sharing stays listed until it lets go; a running program's
// file cannot be replaced; another process's byte-range lock fails a read.
// Each file keeps what the cache holds and what a power cut would leave, and
// the process can be made to die in any call that changes the disk.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "app/PlanRunner.h"
#include "platform/fileops.h"

namespace testing_support {

// The process died: thrown from the call it died in.
struct Crash {};

class DocumentedFiles final : public FileSystem {
public:
    struct File {
        std::string data;
        std::optional<std::string> durable;  // what a power cut leaves; none: torn, neither old nor new
        bool readOnly = false, zoneMark = false;
        bool heldWithDeleteSharing = false;  // by another process
        bool runningProgram = false;         // its image is mapped by a running process
        bool rangeLocked = false;            // another process holds a byte-range lock on it
    };
    std::map<std::wstring, File> files;
    std::set<std::wstring> folders, deletePending;
    std::set<std::wstring> programFolders;  // made with the program folder's access list
    bool locked = false;
    bool diskFull = false;  // no new file's data fits
    int crashAt = 0;        // the disk-changing call the process dies in (1, 2, ...); 0: none
    int calls = 0;          // disk-changing calls that were made
    // A name that another program writes while the run copies to a given name.
    std::map<std::wstring, std::pair<std::wstring, std::string>> writtenWhileCopyingTo;

    void Put(const std::wstring& name, const std::string& data, bool readOnly = false, bool zoneMark = false) {
        File file;
        file.data = data;
        file.durable = data;
        file.readOnly = readOnly;
        file.zoneMark = zoneMark;
        files[name] = file;
    }
    // What the disk holds after a power cut: the flushed data, and what the
    // journal made of the names. A publish is atomic and on the disk once its
    // call returns: MoveFileExW with MOVEFILE_WRITE_THROUGH, and NTFS journals
    // a rename; the tests rest on that assumption.
    void PowerCut() {
        for (auto& [name, file] : files) {
            file.data = file.durable ? *file.durable : std::string("<torn>");
            file.durable = file.data;
            file.heldWithDeleteSharing = file.runningProgram = file.rangeLocked = false;
        }
        deletePending.clear();
        locked = false;
    }
    void LetGo() { deletePending.clear(); }  // the other process closes its handle

    bool FileExists(const std::wstring& path) override { return files.count(path) || deletePending.count(path); }
    bool DirectoryExists(const std::wstring& path) override { return folders.count(path) > 0; }
    bool CreateDir(const std::wstring& path) override {
        if (!folders.insert(path).second) return Fail(183);
        return Done();
    }
    bool CreateProgramDir(const std::wstring& path) override {
        if (!folders.insert(path).second) return Fail(183);
        programFolders.insert(path);
        return Done();
    }
    bool RemoveFile(const std::wstring& path) override {
        if (deletePending.count(path)) return Fail(fileops::kErrorAccessDenied);
        const auto it = files.find(path);
        if (it == files.end()) return Fail(fileops::kErrorFileNotFound);
        if (it->second.readOnly || it->second.runningProgram) return Fail(fileops::kErrorAccessDenied);
        if (it->second.heldWithDeleteSharing) deletePending.insert(path);
        files.erase(it);
        return Done();
    }
    // CopyFileW: attributes and streams travel; a read-only target is refused.
    bool CopyOver(const std::wstring& source, const std::wstring& target) override {
        const auto from = files.find(source);
        if (from == files.end()) return Fail(fileops::kErrorFileNotFound);
        if (from->second.rangeLocked) return Fail(fileops::kErrorLockViolation);
        const auto to = files.find(target);
        if (!folders.count(FolderOf(target))) return Fail(fileops::kErrorPathNotFound);
        if (deletePending.count(target) || (to != files.end() && (to->second.readOnly || to->second.runningProgram)))
            return Fail(fileops::kErrorAccessDenied);
        File copy = from->second;
        copy.durable.reset();
        copy.heldWithDeleteSharing = copy.runningProgram = copy.rangeLocked = false;
        const auto other = writtenWhileCopyingTo.find(target);
        if (other != writtenWhileCopyingTo.end()) Put(other->second.first, other->second.second);
        if (diskFull || calls + 1 == crashAt) copy.data.resize(copy.data.size() / 2);  // the head only
        files[target] = copy;
        if (diskFull) return Fail(112);
        return Done();
    }
    bool OpensForReading(const std::wstring& path) override { return files.count(path) > 0; }
    bool MakeWritable(const std::wstring& path) override {
        const auto it = files.find(path);
        if (it == files.end()) return Fail(fileops::kErrorFileNotFound);
        it->second.readOnly = false;
        return Done();
    }
    bool DropZoneMark(const std::wstring& path) override {
        const auto it = files.find(path);
        if (it == files.end() || !it->second.zoneMark) return true;
        if (it->second.readOnly) return Fail(fileops::kErrorAccessDenied);
        it->second.zoneMark = false;
        return Done();
    }
    // Needs the file opened for writing, which its read-only attribute refuses.
    bool FlushFile(const std::wstring& path) override {
        const auto it = files.find(path);
        if (it == files.end()) return Fail(fileops::kErrorFileNotFound);
        if (it->second.readOnly) return Fail(fileops::kErrorAccessDenied);
        it->second.durable = it->second.data;
        return Done();
    }
    bool Publish(const std::wstring& from, const std::wstring& to, bool replace) override {
        const auto it = files.find(from);
        if (it == files.end()) return Fail(fileops::kErrorFileNotFound);
        const auto old = files.find(to);
        if (old != files.end() && !replace) return Fail(183);
        if (folders.count(to) || deletePending.count(to) ||
            (old != files.end() && (old->second.readOnly || old->second.runningProgram)))
            return Fail(fileops::kErrorAccessDenied);
        File moved = it->second;
        files.erase(it);
        files[to] = moved;
        return Done();
    }
    bool InUse(const std::wstring& path) override {
        const auto it = files.find(path);
        return it != files.end() && it->second.runningProgram;
    }
    bool IsReadFault(std::uint32_t error) override { return error == fileops::kErrorLockViolation; }
    void LockInstallation() override { locked = true; }
    void UnlockInstallation() override { locked = false; }
    std::uint32_t LastError() override { return lastError_; }

private:
    static std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }
    bool Fail(std::uint32_t error) {
        lastError_ = error;
        return false;
    }
    bool Done() {
        if (++calls == crashAt) throw Crash{};
        return true;
    }
    std::uint32_t lastError_ = 0;
};

}  // namespace testing_support
