// File-system operations of the copy core. Every other core file reaches the file system
// only through this header; fsops_posix.cpp (and later fsops_win32.cpp) is the only file
// that calls the operating system. All paths are byte strings, never converted.
#pragma once

#include <atomic>
#include <compare>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/content_hash.h"

namespace ostrivane {

// Traits of the platform's paths, kept in one place so that another platform layer only
// changes these values.
namespace platform {
#ifdef _WIN32
inline constexpr char kSeparator = '\\';
// "/" separates as "\\" does wherever Windows reads a path; a name never holds either.
inline constexpr std::string_view kSeparators = "\\/";
inline constexpr std::string_view kFileNameDelimiters = "\\/:";
inline constexpr std::string_view kExtensionDelimiters = ".\\/:";
inline constexpr bool kPathsIgnoreCase = true;
// ".profile" is a name made of an extension alone.
inline constexpr bool kLeadingDotStartsExtension = true;
#else
inline constexpr char kSeparator = '/';
inline constexpr std::string_view kSeparators = "/";
inline constexpr std::string_view kFileNameDelimiters = "/";
inline constexpr std::string_view kExtensionDelimiters = "./";
// Linux file names are case-sensitive: /data/Photos and /data/photos are two folders.
inline constexpr bool kPathsIgnoreCase = false;
// A leading dot hides a name and starts no extension: ".bashrc" has none, ".config.old"
// has ".old".
inline constexpr bool kLeadingDotStartsExtension = false;
#endif
// True for a character that separates the names of a path ("\\" and "/" on Windows).
inline constexpr bool IsSeparator(char c) {
    return kSeparators.find(c) != std::string_view::npos;
}
}  // namespace platform

// Raised when a folder cannot be entered. `code` is the platform's error number in the
// Windows numbering the messages use (2 not found, 3 invalid name, 4 too many open files,
// 5 access denied); any other failure keeps the OS error number. `path` is the folder that
// could not be entered as the walk names it (empty where none is known); what() stays the
// message alone.
class EInOutError : public std::runtime_error {
  public:
    EInOutError(int code, const std::string& message, std::string path = {});
    int code;
    std::string path;
};

// Builds the EInOutError for a failed entry into a folder from an OS error number
// (errno on POSIX).
EInOutError InOutErrorFromOs(int osError);

// Attribute word of a search entry.
namespace attr {
inline constexpr std::uint32_t kReadOnly = 0x01;
inline constexpr std::uint32_t kHidden = 0x02;
inline constexpr std::uint32_t kSystem = 0x04;
inline constexpr std::uint32_t kVolume = 0x08;
inline constexpr std::uint32_t kFolder = 0x10;
inline constexpr std::uint32_t kArchive = 0x20;
inline constexpr std::uint32_t kLink = 0x400;
}  // namespace attr

struct SearchEntry {
    std::string name;
    std::uint32_t attributes = 0;
};

// True when `path` names a folder (a link to a folder counts), with or without a trailing
// separator. The file-system root is a folder.
bool IsExistingFolder(const std::string& path);

// True when `path` names the file-system root however it is spelled ("/", "//", "/.",
// "/tmp/..", a relative path climbing to it) or reached (a link to "/"): the folder it
// names is compared with the root by identity. False for an empty path or one that names
// nothing.
bool IsFileSystemRoot(const std::string& path);

// True when an entry of exactly that path exists and is not a folder.
bool IsExistingFile(const std::string& path);

// Creates the folder and every missing parent, outermost first; doubled separators count
// as one. True when the folder exists afterwards by this call's doing or already did. An
// empty path raises EInOutError "Unable to create directory"; nothing else raises.
bool CreateFolderChain(const std::string& path);

// 1-based position of the last byte of `text` that is one of `delimiters`; 0 if none.
// Trail bytes of multi-byte characters never count (true by construction in UTF-8).
int LastDelimiterIndex(std::string_view delimiters, std::string_view text);

// The text after the last file-name delimiter, or the whole path when there is none.
std::string FileNamePart(const std::string& path);

// The extension of the path's last component, dot included ("" when it has none). The text
// after the last dot counts whatever precedes that dot, so ".profile" gives ".profile"; a
// caller that follows the platform's rule for hidden names checks
// platform::kLeadingDotStartsExtension.
std::string ExtensionPart(const std::string& path);

// --- Directory search -------------------------------------------------------------------

// How much a search reports of each entry. `Full` asks the file system for every entry
// (lstat), which the read-only bit needs; `TypeOnly` relies on the directory entry's own
// type and leaves the read-only bit clear, which spares a system call per entry.
enum class SearchDetail { Full, TypeOnly };

namespace detail {
struct SearchState;
struct SearchStateDeleter {
    void operator()(SearchState* state) const;
};
}  // namespace detail

// One running search. Destroying it closes the search, so every search is closed on every
// way out of the code that started it, an exception passing through included.
struct SearchRec {
    SearchEntry entry;
    std::unique_ptr<detail::SearchState, detail::SearchStateDeleter> state;
    // The platform's error number when the folder could not be listed; 0 otherwise.
    int error = 0;
};

// Starts a filtered search. `pattern` is a folder prefix followed by a name pattern; the
// name patterns "*" and "*.*" match every name. The excluded bits are those of 0x1E
// (hidden, system, volume, folder) that are not in `wanted`; entries sharing a bit with
// them are passed over, and so are "." and ".." when the folder bit is excluded.
// Returns true with the first entry in rec.entry, or false when nothing came (the search
// then holds nothing, and rec.error tells why when the folder could not be listed).
bool SearchFirst(const std::string& pattern, std::uint32_t wanted, SearchRec& rec,
                 SearchDetail detail = SearchDetail::Full);
// Next entry of the search; false at the end.
bool SearchNext(SearchRec& rec);
// Ends the search; harmless on a search that holds nothing.
void SearchClose(SearchRec& rec);

// Enters and lists a folder the way the folder tree copy needs it: every entry of the
// folder, "." and ".." included, in the order the platform gives them, no filter.
// Raises EInOutError (InOutErrorFromOs) when the folder cannot be entered: missing, not a
// folder, or no search permission. Returns false with rec.error set when it can be entered
// but not listed, false with rec.error 0 when nothing came, else true with the first entry.
bool RawSearchFirst(const std::string& folder, SearchRec& rec,
                    SearchDetail detail = SearchDetail::TypeOnly);


// Identity of a file-system object (device and inode on POSIX).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};
// --- Open folders ------------------------------------------------------------------------

// A folder held open by the platform (a descriptor on POSIX). Walks open each subfolder
// relative to its parent's open folder and never through a link, so a folder swapped for a
// link between the listing and the opening is not followed, and depth is not bounded by
// the platform's path length. Move-only; closed when destroyed.
class Folder {
  public:
    Folder() = default;
    ~Folder();
    Folder(Folder&& other) noexcept;
    Folder& operator=(Folder&& other) noexcept;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    bool isOpen() const { return handle_ >= 0; }
    void close();
    // Device and inode of the folder, taken when it was opened and kept after close().
    const FileIdentity& identity() const { return identity_; }
    // The platform's handle (a file descriptor on POSIX); -1 when closed.
    std::intptr_t native() const { return handle_; }
    // Takes ownership of an open handle; identity() is read from it. `listable` false
    // marks a folder that was opened for reaching its entries only (no read permission).
    // 0 or the error number.
    int adopt(std::intptr_t handle, bool listable = true);
    // False for a folder that may be entered but not listed.
    bool listable() const { return listable_; }

  private:
    std::intptr_t handle_ = -1;
    FileIdentity identity_;
    bool listable_ = true;
};

// Opens the folder `path`. A link given as the path is followed: the user chose it. A
// folder that may be entered but not read (a drop box) opens too, for its entries only:
// ReadFolder then fails with error::kAccessDenied's number.
// 0 or the platform's error number (ENOTDIR's for something that is no folder).
int OpenFolder(const std::string& path, Folder& folder);

// Opens the subfolder `name` of `parent` without following a link: a link there fails with
// error::kIsLink's number, whatever it points to. When `listedInode` is not 0, the opened
// folder must be the entry a listing saw under that inode (the root of a file system
// mounted there counts as that entry); another one fails with error::kChangedMeanwhile's
// number. 0 or the platform's error number.
int OpenSubfolder(const Folder& parent, const std::string& name, Folder& folder,
                  std::uint64_t listedInode = 0);

// Whether the process may search the folder `path` (enter it). 0 or the error number.
int CheckSearchPermission(const std::string& path);

// Whether the subfolder `name` of `parent` may be entered: 0, or the error number of the
// reason it may not (not found, not a folder, error::kIsLink's for a link, access denied).
int CanEnterAt(const Folder& parent, const std::string& name);

// True when the open folder's file system may take two names that differ only in letter
// case (or in Unicode form) for one entry, as FAT, exFAT, NTFS, HFS+ and folders with
// case folding turned on do; also true where that cannot be told (FUSE, network file
// systems). False only for file systems known to keep every byte of a name apart.
bool FolderFoldsNames(const Folder& folder);

// What a file system that may fold names (FolderFoldsNames) might make of `name`, for
// telling which names could be one entry there: ASCII letters in lower case, the Han
// ideographs and the CJK punctuation as they are. A name with any other character outside
// ASCII (letters with case, marks, kana, Hangul) or bytes that are not UTF-8 gets one shared
// key, so such names count as possibly one. The keys may join names that a file system
// keeps apart, never part names that it takes for one.
std::string NameFoldingKey(std::string_view name);

// True when the open folder is the root of a file system: "/" on POSIX; on Windows the root
// of any volume ("C:\", a share's "\\server\share\", a volume mounted on a folder).
bool IsFileSystemRootFolder(const Folder& folder);

// Opens the parent folder of `child` (its ".."). 0 or the platform's error number.
int OpenParentFolder(const Folder& child, Folder& parent);

// One entry of a folder as ReadFolder lists it: name, attribute word (as a search reports
// it: the link bit for a link, with the folder bit when it leads to a folder) and the
// entry's inode as the listing gives it (0 where the platform gives none).
struct FolderEntry {
    std::string name;
    std::uint32_t attributes = 0;
    std::uint64_t inode = 0;
};

// The size of the regular file `name` of the open folder, a link followed as a copy reads
// it. False for anything else (a folder, a device, nothing there).
bool FileSizeAt(const Folder& folder, const std::string& name, std::uint64_t& size);

// Lists every entry of the open folder except "." and ".." in the platform's order into
// `entries` (replaced). 0 or the platform's error number.
int ReadFolder(const Folder& folder, std::vector<FolderEntry>& entries);

// Attribute word of the entry `name` of `folder` without following a link, and its
// identity when `id` is given (for a link: the link's own). False when there is no such
// entry.
bool EntryAttributesAt(const Folder& folder, const std::string& name, std::uint32_t& attributes,
                       FileIdentity* id = nullptr);
// Identity of what the entry `name` of `folder` leads to (a link followed); false when it
// leads nowhere.
bool TargetIdentityAt(const Folder& folder, const std::string& name, FileIdentity& id);
// True when the entry `name` of `folder` exists and is not a folder (a link counts as what
// it leads to; a dangling link is an entry).
bool IsExistingFileAt(const Folder& folder, const std::string& name);
// Creates the subfolder `name` of `folder`. 0 or the platform's error number.
int CreateFolderAt(const Folder& folder, const std::string& name);
// Deletes the entry `name` (a file or a link, never followed). 0 or the error number.
int DeleteEntryAt(const Folder& folder, const std::string& name);
// Removes the empty subfolder `name`. 0 or the platform's error number.
int RemoveFolderAt(const Folder& folder, const std::string& name);
// Gives the owner write permission on the open folder when the process owns it, so its
// entries can be deleted. 0 or the platform's error number.
int MakeOpenFolderWritable(const Folder& folder);

// Copies the file `sourceName` to the entry `targetName` of `targetFolder`, by the rules of
// CopyOneFile, obeying and informing `control` when given. `sourceName` is an entry of
// `sourceFolder`, or a path (relative to the working directory when not absolute) when
// `sourceFolder` is null. `listedAttributes` is the attribute word a listing gave the source (0
// when unknown); the archive bit without the link bit marks a regular file and spares a look before
// it is opened. Returns 0 or the platform's error number. One version of a source file: its
// identity, size and times as the copy saw them at open.
struct SourceVersion {
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t modifiedNs = 0, changedNs = 0;
    friend auto operator<=>(const SourceVersion&, const SourceVersion&) = default;
};

// The hashes of big sources that the copies of one run share: one source copied into many
// destinations is hashed once (where the copy did not read it itself) while it stays the
// same version. Every member may be called by several copies at once.
class SharedSourceHashes {
  public:
    // The hash of `version`: computed by `compute` (0 or an error number) the first time,
    // or, while another copy computes it, that copy's result once it is there. An error is
    // not kept: the next copy computes again.
    int hash(const SourceVersion& version, ContentHash& hash,
             const std::function<int(ContentHash&)>& compute);

  private:
    struct Entry {
        bool ready = false, busy = false;
        ContentHash hash;
    };
    std::mutex mutex_;
    std::condition_variable done_;
    std::map<SourceVersion, Entry> entries_;
};

// What a copy obeys and reports while it runs. All optional; the callbacks run on the
// copying thread.
struct CopyControl {
    // Once set, the copy is abandoned between two pieces of data: it fails with
    // error::kStopped and nothing is put in place.
    const std::atomic<bool>* stop = nullptr;
    // The source's size, once the source is open.
    std::function<void(std::uint64_t size)> opened;
    // Bytes written since the last call (pieces of at most a few MiB).
    std::function<void(std::uint64_t bytes)> copied;
    // Where a copy that needs a named temporary (a file system without unnamed files)
    // writes it before renaming it into the target's folder: the run's listed destination
    // folder, so that a run killed meanwhile leaves it only where the next run into that
    // destination removes leftovers. Used where it lies on the target's mount and takes
    // new files; elsewhere, and when null, the temporary is written beside the target.
    // The folder must stay open while copies use it.
    const Folder* temporaryFolder = nullptr;
    // Where copies that are hashed (CopyFileAt's `placed`) share the hashes of big sources.
    SharedSourceHashes* sourceHashes = nullptr;
    // Asked once the source is open, before anything is written, with the source's size:
    // false fails the copy with error::kDeviceFull, untried (its device is full).
    std::function<bool(std::uint64_t size)> roomFor;
};

// What a copy that was put under its final name tells a run that checks it later.
struct PlacedCopy {
    FileIdentity identity;  // the copy
    // Its modification time once complete (the source's, where the file system keeps it),
    // in nanoseconds: identities are reused once a file is deleted, so a file that took
    // the copy's place may carry the copy's identity, seldom also its time.
    std::int64_t modifiedNs = 0;
    std::uint64_t size = 0;     // its length as written
    ContentHash sourceHash;     // the source's bytes as the copy read them
    bool replacedFile = false;  // it took the place of an existing file
    // It took the place of a symbolic link (to a file, or to nothing): the link's target and
    // owner, where the platform can make such a link again (POSIX), so that the check can
    // put the link back instead of a wrong copy.
    bool replacedLink = false;
    std::string linkTarget;  // empty where the link cannot be made again
    std::uint32_t linkOwner = 0, linkGroup = 0;
};

// Which side of a copy a failure came from.
enum class CopySide {
    None,    // the copy did not fail
    Source,  // the source: looking at it, opening or reading it, or its change while
             // read (error::kSourceChanged); also a source that is no regular file
    Target,  // the target: creating, writing, finishing, flushing or renaming the copy, a
             // target in the way, a full device (error::kDeviceFull too), a stop request
};

// Which side of the copy this thread is making failed, for the platform layer's CopyFileAt:
// it clears the note when a copy starts and notes each failure of the source (a look at it,
// its open, a read, a change while it was read) with SourceFailed; SideOf then tells the
// side of the error the copy ended with. Every other failure of a copy is the target's.
namespace detail {
// Forgets the source's failure of the copy this thread made before.
void ClearSourceFailure();
// Notes `error` as the source's failure of the copy this thread is making; returns it.
int SourceFailed(int error);
// The side of the copy this thread is making that `error` came from: None for 0, the
// source for error::kSourceChanged and for the error noted by SourceFailed, else the target.
CopySide SideOf(int error);
}  // namespace detail

// With `placed` given, the copy also hashes the source's bytes (those it wrote where the
// data passes through this process; a second read of the source where the file system
// clones or copies in the kernel) and, when it succeeds and stands under its final name,
// fills *placed. A copy that leaves the target as it was (the source itself) fills nothing:
// placed->size and identity stay 0. With `failedSide` given, it is set to the side the
// returned error came from (CopySide::None for 0). Where the kernel copies the data itself
// and fails without saying which file failed, the source is read once more where the copy
// stopped: the error is the source's when that read fails too, else the target's.
int CopyFileAt(const Folder* sourceFolder, const std::string& sourceName,
               const Folder& targetFolder, const std::string& targetName, bool failIfExists,
               std::uint32_t listedAttributes = 0, const CopyControl* control = nullptr,
               PlacedCopy* placed = nullptr, CopySide* failedSide = nullptr);

// True when the entry `name` of `folder` is still the copy `placed` (a regular file of its
// identity and modification time; a link is not followed). Where the file system does not
// keep inode numbers (FAT, exFAT, FUSE, network file systems: a file may get another number
// once the kernel forgot it), a regular file of its modification time.
bool IsPlacedCopyAt(const Folder& folder, const std::string& name, const PlacedCopy& placed);

// Puts the symbolic link that the copy `placed` replaced (placed.linkTarget, its owner and
// group where the process may give them) back under `name` of `folder`, in the copy's
// place in one rename, only while that name still stands for the copy (IsPlacedCopyAt). 0,
// error::kChangedMeanwhile's number when another file stands there, or the platform's error
// number (Windows makes no links: ERROR_NOT_SUPPORTED); the name is left as it was unless 0.
int PutLinkBackAt(const Folder& folder, const std::string& name, const PlacedCopy& placed);

// Reads the copy `name` of `folder` back from its device and hashes it: the entry must be
// the copy `expected` (as IsPlacedCopyAt tells; a link is not followed; another file fails
// with error::kChangedMeanwhile's number). Its cached pages are dropped first (POSIX:
// the file system must have been flushed, so that they are clean), or the file is read without the
// system's cache (Windows), so that the bytes come from the device, not from memory. `read` is told
// each piece's bytes. With `stop` set, the read is abandoned with error::kStopped. 0 or the
// platform's error number.
int ReadBackHash(const Folder& folder, const std::string& name, const PlacedCopy& expected,
                 ContentHash& hash, std::uint64_t& size, const std::atomic<bool>* stop = nullptr,
                 const std::function<void(std::uint64_t)>& read = {});

// Hashes the file at `path` as a copy reads its source (a link is followed; only a regular
// file; holes are hashed as zeros without being read); `size` receives its length. With
// `stop` set, the read is abandoned with error::kStopped. 0 or the platform's error number.
int HashFile(const std::string& path, ContentHash& hash, std::uint64_t& size,
             const std::atomic<bool>* stop = nullptr);

// Deletes the named temporaries of copies (see CopyOneFile) that a killed or crashed run
// left in `folder`: entries of exactly the shape ".ostrivane-partial-<process id>-<16 hex
// digits>" that are regular files (a link is never followed nor removed) and whose writer
// is certainly gone. On POSIX a writer locks its temporary (flock) from its creation to its
// rename, so a temporary is removed only when (a) its process is not alive here, (b) its
// lock can be taken, and (c) the name still stands for the file locked. A process id of
// another pid namespace, or of another host on a network share, may name a live writer:
// its lock keeps its temporary. Where the file system has no locks, only a temporary not
// written for 24 hours counts as abandoned. Call it once per target folder before copying
// into it. The names removed are appended to *removed when given. Returns 0, or the
// platform's error number of the listing or of the first removal that failed.
int RemoveLeftoverTemporaries(const Folder& folder, std::vector<std::string>* removed = nullptr);

// --- Platform stand-ins -------------------------------------------------------------------

// Copies one file: bytes, permission bits (0777) and modification and access times (where
// the target's file system cannot hold the bits or the times, the copy stands without them);
// a link in the source is followed. Only a regular file is copied: a FIFO, socket or device
// is refused with ENOTSUP's number without being opened, so a copy neither waits for a
// writer nor reads without end.
//
// The copy appears under the target's name only when it is complete. It is written as an
// unnamed file in the target's folder (O_TMPFILE) and linked under the name at the end;
// where the file system has no unnamed files (FUSE, vfat, exfat, ...) it is written under a
// named temporary ".ostrivane-partial-<process id>-<16 hex digits>" in the target's folder
// (or in the CopyControl's temporary folder) and renamed at the end, locked by its writer
// until then. Every failure removes what the call wrote. A process killed
// meanwhile leaves nothing behind, or at worst one named temporary, which
// RemoveLeftoverTemporaries removes. Holes of a sparse source stay holes in the copy.
//
// With `failIfExists` an existing target, whatever it is (a dangling link too), is never
// touched and the call fails with EEXIST's number, also when the target appears while the
// data is copied (the link, or renameat2 with RENAME_NOREPLACE, fails then; on a file
// system with neither, such as vfat, a file that appears between the last look and the
// rename is replaced). Without it an existing target is replaced by a rename of the complete
// copy over it, so it holds its old or its new content, never a part; a target without
// write permission for the caller (EACCES), a folder or a link to a folder (EISDIR) is not
// replaced, and a target that is the source itself is left alone (0). A replaced regular
// file's owner passes to the copy where the process may set it and where the old owner
// owns the source too or everybody may read the source; likewise its group. Otherwise the
// copy is the caller's, with the source's mode, so that root replacing a user's file with
// a file only root may read does not hand it to that user.
//
// A source whose size, modification or change time differs after the copy from that at
// open, or whose copy is not as long as its size at open said, was written to meanwhile:
// the call fails with error::kSourceChanged and puts nothing in place. (Files of /proc and
// /sys report sizes other than their lengths and are taken as read.)
//
// No copy is flushed to the device one by one: the run flushes each file system once at its
// end. A power loss before that can leave the copies of the last seconds incomplete on the
// device, though each was complete under its name while the system ran. What shows after
// the restart depends on the file system. ext4 (data=ordered, the default) never shows
// another file's data, and a replacing rename there has the new data written before the
// rename is committed, so a replaced file holds its old or its new content; but a new copy,
// whose blocks are allocated late, can be committed before its data and show up empty or
// shorter than its source. File systems without that ordering (ext4 data=writeback, vfat,
// exfat) can also leave zeros in a copy, or a replaced file empty.
// Returns 0 or the platform's error number.
int CopyOneFile(const std::string& source, const std::string& target, bool failIfExists);

// The same with the source named inside an open folder search (the walk of a folder tree).
// When `name` is the search's current entry, its listed type spares a look at the file
// before it is opened.
int CopyOneFileFromSearch(const SearchRec& folder, const std::string& name,
                          const std::string& target, bool failIfExists);

// Creates one folder (its parent must exist). 0 or the platform's error number.
int CreateFolder(const std::string& path);
// Deletes one file or link (a link is removed, never followed). 0 or the error number.
int DeleteOneFile(const std::string& path);
// Removes one empty folder. 0 or the platform's error number.
int RemoveFolder(const std::string& path);
// Attribute word of the entry (a link reports its target's type with the link bit);
// returns false when there is no such entry.
bool GetAttributes(const std::string& path, std::uint32_t& attributes);
// Applies the read-only bit of `attributes` to the entry: read-only removes the owner's
// write permission, its absence gives it back. Other bits have no meaning here.
// 0 or the platform's error number.
int SetAttributes(const std::string& path, std::uint32_t attributes);
// Gives the owner write permission on a folder it owns, so its entries can be deleted.
int MakeFolderWritable(const std::string& path);

// How many files the process may hold open at once (its soft limit).
std::uint64_t OpenFileLimit();

// Identity of what `path` names (links followed); false when it does not exist.
bool GetIdentity(const std::string& path, FileIdentity& id);
// Identity of the entry `path` itself (a link is not followed); false when there is none.
bool GetEntryIdentity(const std::string& path, FileIdentity& id);
// Identity of the folder an open search is listing.
FileIdentity IdentityOfSearch(const SearchRec& rec);

// Where a folder (or file) lies, whatever path, link or mount it is reached through: the
// file system it is on and its path from that file system's own root. A folder reached
// through a bind mount of a folder below a file system's root has the place it has
// through any other mount.
struct FolderPlace {
    std::uint64_t device = 0;  // the file system (0 where only the path tells: Windows)
    std::string path;          // from the file system's root, the platform's separator
    bool foldsNames = true;    // the file system may take names that differ in case as one
};

// The places of what `path` names: its own place first, then (POSIX) the root of every
// mount below it, all read from /proc/self/mountinfo (where that cannot be read, the
// canonical path alone, as on Windows, which gives the canonical path as the place).
// Empty when `path` names nothing.
std::vector<FolderPlace> PlacesOf(const std::string& path);

// True when `a` and `b` may be one folder or one may hold the other: the same file system,
// and the path of one is the other's or leads to it, component by component, compared by
// NameFoldingKey where either file system may fold names.
bool PlacesOverlap(const FolderPlace& a, const FolderPlace& b);

// Flushes the file system that holds `path` to its device (one call for the whole file
// system; every file system when `path` cannot be opened for want of read permission).
// 0 or the platform's error number.
int SyncFileSystemOf(const std::string& path);

// Gives the calling thread a descriptor table of its own (a copy of the one it shared), so
// that the opens and closes of several writer threads do not contend for one table. Only
// for a thread that opens and closes everything it uses after the call itself, and whose
// descriptors no other thread needs. Does nothing where the platform has no such thing.
void UsePrivateDescriptorTable();

// True when the block device `device` (a FileIdentity's device) is a rotating disk, where
// several writers at once only add seeks. False for solid-state devices and for file
// systems without a block device (RAM, network, FUSE).
bool IsRotatingDisk(std::uint64_t device);

// The platform's text for an error number, for failure reports.
std::string ErrorText(int error);

// Error numbers that callers tell apart, in the platform's numbering.
namespace error {
extern const int kAlreadyExists;  // a fail-if-exists copy found the target there
extern const int kNotFound;       // the path names nothing
extern const int kLinkLoop;       // a link leads back to a folder above it
extern const int kNotAFolder;     // the path names something that is no folder
extern const int kAccessDenied;   // the platform refused access
extern const int kIsLink;         // a walk met a link where it wanted a folder
extern const int kChangedMeanwhile;  // the entry is no longer the one that was listed
                                     // (no errno value: ErrorText words it)
extern const int kStopped;           // a stop request abandoned the copy (no errno value)
extern const int kSourceChanged;     // the source was written to while it was copied
                                     // (no errno value)
extern const int kDeviceFull;        // not tried: the target's device is full (no errno
                                     // value: ErrorText words it)
}  // namespace error

// True for the platform's "no space left on the device" (ENOSPC; on Windows a full disk or
// a quota reached).
bool MeansDeviceFull(int error);

// The space left to the caller on the file system of the open folder: free bytes, and free
// file entries (UINT64_MAX where the file system keeps no count of them), the reserve a file
// system keeps for the privileged included where this process may use it (on Windows: the
// free space the caller's quota leaves). False when it cannot be told.
bool FreeSpaceAt(const Folder& folder, std::uint64_t& bytes, std::uint64_t& entries);

// Whole-file reading and writing for list and settings files. ReadWholeFile fills `bytes`
// and returns 0 or the error number; it reads a regular file, or an anonymous pipe to its
// end (on Linux: "<(...)", a piped /dev/stdin), and refuses anything else (a named FIFO,
// which might never get a writer, a device) with ENOTSUP's number. WriteFileAtomically writes `bytes` to a named
// temporary in the same folder (the shape CopyOneFile uses), flushes it to the device and
// renames it over `path`; a failure leaves an existing file untouched. It returns 0 or the error number and sets *shortWrite when the data could not
// all be written (as opposed to the file not being creatable).
int ReadWholeFile(const std::string& path, std::string& bytes);
int WriteFileAtomically(const std::string& path, std::string_view bytes,
                        bool* shortWrite = nullptr);

// What stands at `path` for a file that is to be written there whole (WriteFileAtomically
// renames its temporary over whatever the name holds), the entry itself, a link not
// followed.
enum class FilePlaceKind {
    Free,    // nothing: a new name
    File,    // a regular file
    Folder,  // a folder, or a name that can only mean one (ending with a separator, ".", "..")
    Link,    // a symbolic link (on Windows any reparse point that stands for another name)
    Other,   // a device, FIFO or socket
};
// Looks at `path` and sets `kind`. For Free and File, returns 0 when a file can be written
// there now: the folder it goes into exists and takes a new file, and an existing file may
// be written; else the error number of why not (the kind stays set). 0 for the other kinds,
// which a caller refuses by their kind.
int LookAtFilePlace(const std::string& path, FilePlaceKind& kind);

// Absolute form of `path` for messages (the path itself when it cannot be resolved).
std::string AbsolutePath(const std::string& path);
// The absolute path of what `path` names with every ".", ".." and link resolved; empty
// when it does not exist.
std::string CanonicalPath(const std::string& path);
// Value of an environment variable, or empty.
std::string EnvironmentValue(const char* name);

#ifdef _WIN32
// The key under which Windows file systems compare names: letter case folded the way they
// fold it (every script, not only ASCII), ordinal otherwise. Two paths name the same entry
// when their keys are equal.
std::string PathCaseKey(std::string_view path);

// Where versions of the program before the per-user settings file kept the file `name`, in
// the order they are read: the user's VirtualStore copy (where Windows redirected a 32-bit
// program's write to the system directory), then the system directory itself, first as a
// 32-bit program saw it (SysWOW64), then the native one.
std::vector<std::string> SystemSettingsFiles(const std::string& name);

// Text in the system code page (the "ANSI" code page: 936 on Chinese Windows) as UTF-8.
std::string TextFromSystemCodePage(std::string_view bytes);
// UTF-8 text in the system code page. False when some character has no form there (or
// would come back as another one), `bytes` then undefined.
bool TextToSystemCodePage(std::string_view text, std::string& bytes);
#endif

}  // namespace ostrivane
