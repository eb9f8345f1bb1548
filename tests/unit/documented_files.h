// File operations as Windows documents them, in memory, for the rules Wine
// does not follow or a test machine cannot stage: the read-only attribute
// covers every stream of a file; a file deleted while another process holds
// it with delete sharing stays listed until it lets go; a file any handle is
// open on, or a running program's, cannot be replaced by a rename; another
// process's byte-range lock fails a read.
// Each file keeps what the cache holds and what a power cut would leave, and
// the process can be made to die in any call that changes the disk.
#pragma once

#include <algorithm>
#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

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
        bool readOnly = false, zoneMark = false, hidden = false;
        bool heldWithDeleteSharing = false;  // by another process
        bool heldOpen = false;               // by another process sharing everything: a replace is refused
        bool runningProgram = false;         // its image is mapped by a running process
        bool rangeLocked = false;            // another process holds a byte-range lock on it
        int id = 0;                          // which file it is, whatever its name
    };
    // A change to names: what each name it touched held before it.
    struct Change {
        std::vector<std::pair<std::wstring, std::optional<File>>> before;
    };
    std::map<std::wstring, File> files;
    std::set<std::wstring> folders, deletePending;
    std::set<std::wstring> programFolders;  // made with the program folder's access list
    bool locked = false;
    std::uint32_t lockRefused = 0;           // why the lock cannot be had; 0: it can
    std::uint32_t programFolderRefused = 0;  // why the program folder cannot be made (the SID unreadable)
    int unlockedCalls = 0;                   // disk-changing calls made without the lock
    std::vector<Change> journal;             // since the last power cut
    bool diskFull = false;  // no new file's data fits
    int crashAt = 0;        // the disk-changing call the process dies in (1, 2, ...); 0: none
    int calls = 0;          // disk-changing calls that were made
    // A name that another program writes while the run copies to a given name.
    std::map<std::wstring, std::pair<std::wstring, std::string>> writtenWhileCopyingTo;
    // Names that are links (reparse points, object-manager links), to where they lead.
    std::map<std::wstring, std::wstring> links;
    // Folders another account makes a link, to the place given, as soon as the run holds them
    // (or, where a file stands in the folder's way, as soon as the run has looked at it).
    std::map<std::wstring, std::wstring> linkedOnceHeld;
    std::set<std::wstring> held;  // folders the run holds

    // Where a name leads: every link on the way followed, the last one too unless `itself`.
    std::wstring Resolve(std::wstring path, bool itself = false) const {
        for (int hops = 0; hops < 32; ++hops) {
            const auto link = std::find_if(links.begin(), links.end(), [&](const auto& l) {
                return path.compare(0, l.first.size(), l.first) == 0 &&
                       (path.size() == l.first.size() ? !itself : path[l.first.size()] == L'\\');
            });
            if (link == links.end()) break;
            path = link->second + path.substr(link->first.size());
        }
        return path;
    }

    void Put(const std::wstring& name, const std::string& data, bool readOnly = false, bool zoneMark = false) {
        File file;
        file.data = data;
        file.durable = data;
        file.readOnly = readOnly;
        file.zoneMark = zoneMark;
        file.id = ++lastId_;
        files[name] = file;
    }
    // What the disk holds after a power cut: each file its flushed data, and
    // its names as the journal left them with the changes `undone` picks
    // (by their place in the journal) taken back, and every later change to
    // the same names with them.
    template <typename Undone>
    void PowerCut(Undone undone) {
        std::map<int, std::optional<std::string>> durable;
        for (const auto& [name, file] : files) durable[file.id] = file.durable;
        std::set<std::wstring> reverted;
        std::vector<bool> undo(journal.size());
        for (std::size_t i = 0; i < journal.size(); ++i) {
            undo[i] = undone(i);
            for (const auto& touched : journal[i].before) undo[i] = undo[i] || reverted.count(touched.first) > 0;
            if (!undo[i]) continue;
            for (const auto& touched : journal[i].before) reverted.insert(touched.first);
        }
        for (std::size_t i = journal.size(); i-- > 0;)
            for (const auto& [name, image] : journal[i].before)
                if (undo[i] && image)
                    files[name] = *image;
                else if (undo[i])
                    files.erase(name);
        for (auto& [name, file] : files) {
            const auto latest = durable.find(file.id);
            if (latest != durable.end()) file.durable = latest->second;
            file.data = file.durable ? *file.durable : std::string("<torn>");
            file.durable = file.data;
            file.heldWithDeleteSharing = file.heldOpen = file.runningProgram = file.rangeLocked = false;
        }
        journal.clear();
        deletePending.clear();
        locked = false;
    }
    void PowerCut() {
        PowerCut([](std::size_t) { return false; });
    }
    void LetGo() { deletePending.clear(); }  // the other process closes its handle

    bool FileExists(const std::wstring& name) override {
        const std::wstring path = Resolve(name);
        return files.count(path) || deletePending.count(path);
    }
    bool DirectoryExists(const std::wstring& path) override { return folders.count(Resolve(path)) > 0; }
    bool CreateDir(const std::wstring& name) override {
        const std::wstring path = Resolve(name, true);
        if (links.count(path) || !folders.insert(path).second) return Fail(183);
        return Done();
    }
    bool CreateProgramDir(const std::wstring& name) override {
        if (programFolderRefused) return Fail(programFolderRefused);
        const std::wstring path = Resolve(name, true);
        if (links.count(path) || !folders.insert(path).second) return Fail(183);
        programFolders.insert(path);
        return Done();
    }
    // Through the handle of the name itself, where the name says it is.
    bool RemoveFile(const std::wstring& name) override {
        const std::wstring path = Resolve(name, true);
        if (links.count(path)) {
            if (Away(name)) return Fail(fileops::kErrorReparsePointEncountered);
            links.erase(path);
            return Done();
        }
        if (deletePending.count(path)) return Fail(fileops::kErrorAccessDenied);
        const auto it = files.find(path);
        if (it == files.end()) return Fail(fileops::kErrorFileNotFound);
        if (Away(name)) return Fail(fileops::kErrorReparsePointEncountered);
        if (it->second.readOnly || it->second.runningProgram) return Fail(fileops::kErrorAccessDenied);
        if (it->second.heldWithDeleteSharing) deletePending.insert(path);
        Journal({path});
        files.erase(it);
        return Done();
    }
    // CopyFileExW with COPY_FILE_FAIL_IF_EXISTS | COPY_FILE_COPY_SYMLINK: a
    // link at the target exists, a link as the source is refused; attributes
    // and streams travel.
    bool CopyToNew(const std::wstring& source, const std::wstring& name) override {
        if (links.count(source)) return Fail(fileops::kErrorReparsePointEncountered);
        const std::wstring target = Resolve(name, true);
        if (links.count(target)) return Fail(80);
        const auto from = files.find(Resolve(source));
        if (from == files.end()) return Fail(fileops::kErrorFileNotFound);
        if (from->second.rangeLocked) return Fail(fileops::kErrorLockViolation);
        if (!folders.count(FolderOf(target))) return Fail(fileops::kErrorPathNotFound);
        if (files.count(target) || deletePending.count(target)) return Fail(80);
        File copy = from->second;
        copy.durable.reset();
        copy.id = ++lastId_;
        copy.hidden = false;
        copy.heldWithDeleteSharing = copy.heldOpen = copy.runningProgram = copy.rangeLocked = false;
        const auto other = writtenWhileCopyingTo.find(target);
        if (other != writtenWhileCopyingTo.end()) Put(other->second.first, other->second.second);
        if (diskFull || calls + 1 == crashAt) copy.data.resize(copy.data.size() / 2);  // the head only
        Journal({target});
        files[target] = copy;
        if (diskFull) return Fail(112);
        return Done();
    }
    bool OpensForReading(const std::wstring& path) override { return !links.count(path) && files.count(Resolve(path)); }
    // The name itself: a link's target keeps its attribute.
    bool MakeWritable(const std::wstring& name) override {
        const std::wstring path = Resolve(name, true);
        if (links.count(path)) return Done();
        const auto it = files.find(path);
        if (it == files.end()) return Fail(fileops::kErrorFileNotFound);
        if (it->second.readOnly && Away(name)) return Fail(fileops::kErrorReparsePointEncountered);
        it->second.readOnly = false;
        return Done();
    }
    bool DropZoneMark(const std::wstring& path) override {
        const auto it = files.find(Resolve(path));
        if (it == files.end() || !it->second.zoneMark) return true;
        if (it->second.readOnly) return Fail(fileops::kErrorAccessDenied);
        it->second.zoneMark = false;
        return Done();
    }
    // Needs the file opened for writing, which its read-only attribute
    // refuses; checks where that handle is.
    bool FlushFile(const std::wstring& path) override {
        if (held.count(FolderOf(path)) && Resolve(path) != path) return Fail(fileops::kErrorReparsePointEncountered);
        const auto it = files.find(Resolve(path));
        if (it == files.end()) return Fail(fileops::kErrorFileNotFound);
        if (it->second.readOnly) return Fail(fileops::kErrorAccessDenied);
        it->second.durable = it->second.data;
        return Done();
    }
    bool Publish(const std::wstring& fromName, const std::wstring& toName, bool replace) override {
        const std::wstring from = Resolve(fromName, true), to = Resolve(toName, true);
        const auto it = files.find(from);
        if (it == files.end()) return Fail(fileops::kErrorFileNotFound);
        const auto old = files.find(to);
        if ((old != files.end() || links.count(to)) && !replace) return Fail(183);
        if (folders.count(to) || deletePending.count(to) ||
            (old != files.end() && (old->second.readOnly || old->second.hidden || old->second.runningProgram ||
                                    old->second.heldOpen)))
            return Fail(fileops::kErrorAccessDenied);
        Journal({from, to});
        File moved = it->second;
        files.erase(it);
        links.erase(to);  // a link there is replaced, not written through
        files[to] = moved;
        return Done();
    }
    // A file refused for its own attribute is not in use, whoever holds it.
    bool InUse(const std::wstring& path) override {
        const auto it = files.find(Resolve(path));
        return it != files.end() && !it->second.readOnly && !it->second.hidden &&
               (it->second.runningProgram || it->second.heldOpen);
    }
    bool IsReadFault(std::uint32_t error) override { return error == fileops::kErrorLockViolation; }
    // Refused when the name is a link, or is reached through one: the handle is elsewhere.
    fileops::FolderHold HoldFolder(const std::wstring& name) override {
        const std::wstring path = Resolve(name, true);
        if (links.count(path) || path != name) {
            Fail(fileops::kErrorReparsePointEncountered);
            return fileops::FolderHold::Refused;
        }
        const auto later = linkedOnceHeld.find(path);
        if (!folders.count(path)) {
            if (later != linkedOnceHeld.end() && files.erase(path)) links[path] = later->second;
            Fail(fileops::kErrorPathNotFound);
            return fileops::FolderHold::NotThere;
        }
        held.insert(path);
        if (later != linkedOnceHeld.end()) links[path] = later->second;
        return fileops::FolderHold::Held;
    }
    bool HeldFolderIsPlain(const std::wstring& path) override {
        return !links.count(path) || Fail(fileops::kErrorReparsePointEncountered);
    }
    void ReleaseFolders() override { held.clear(); }
    std::uint32_t LockInstallation() override {
        if (lockRefused) return lockRefused;
        locked = true;
        return 0;
    }
    void UnlockInstallation() override { locked = false; }
    std::uint32_t LastError() override { return lastError_; }

private:
    // A name in a held folder that a handle opened on it would not be in.
    bool Away(const std::wstring& name) const { return held.count(FolderOf(name)) && Resolve(name, true) != name; }
    static std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }
    void Journal(std::initializer_list<std::wstring> names) {
        Change change;
        for (const std::wstring& name : names) {
            const auto it = files.find(name);
            change.before.emplace_back(name, it == files.end() ? std::nullopt : std::optional<File>(it->second));
        }
        journal.push_back(change);
    }
    // Every call that changes the disk or tries to ends in one of these two.
    bool Fail(std::uint32_t error) {
        if (!locked) ++unlockedCalls;
        lastError_ = error;
        return false;
    }
    bool Done() {
        if (!locked) ++unlockedCalls;
        if (++calls == crashAt) throw Crash{};
        return true;
    }
    std::uint32_t lastError_ = 0;
    int lastId_ = 0;
};

}  // namespace testing_support
