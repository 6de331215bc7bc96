#include "fault_vfs.h"

#include <sqlite3.h>

#include <atomic>
#include <cstring>

namespace runner::testing {
namespace {

std::atomic<bool> disk_full{false};
std::atomic<bool> read_only{false};
sqlite3_vfs* system_vfs = nullptr;
sqlite3_vfs fault_vfs;
sqlite3_io_methods fault_methods;

// Our file: the header SQLite sees, then the system VFS's file.
struct FaultFile {
  sqlite3_file base;
  sqlite3_file* real;
};

sqlite3_file* Real(sqlite3_file* f) { return reinterpret_cast<FaultFile*>(f)->real; }

int Close(sqlite3_file* f) { return Real(f)->pMethods->xClose(Real(f)); }
int Read(sqlite3_file* f, void* p, int n, sqlite3_int64 at) {
  return Real(f)->pMethods->xRead(Real(f), p, n, at);
}
int Write(sqlite3_file* f, const void* p, int n, sqlite3_int64 at) {
  if (disk_full) return SQLITE_FULL;
  return Real(f)->pMethods->xWrite(Real(f), p, n, at);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) {
  return Real(f)->pMethods->xTruncate(Real(f), size);
}
int Sync(sqlite3_file* f, int flags) {
  if (disk_full) return SQLITE_FULL;
  return Real(f)->pMethods->xSync(Real(f), flags);
}
int FileSize(sqlite3_file* f, sqlite3_int64* size) {
  return Real(f)->pMethods->xFileSize(Real(f), size);
}
int Lock(sqlite3_file* f, int level) { return Real(f)->pMethods->xLock(Real(f), level); }
int Unlock(sqlite3_file* f, int level) { return Real(f)->pMethods->xUnlock(Real(f), level); }
int CheckReservedLock(sqlite3_file* f, int* out) {
  return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
}
int FileControl(sqlite3_file* f, int op, void* arg) {
  return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}
int SectorSize(sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); }
int DeviceCharacteristics(sqlite3_file* f) {
  return Real(f)->pMethods->xDeviceCharacteristics(Real(f));
}
int ShmMap(sqlite3_file* f, int page, int size, int extend, void volatile** out) {
  return Real(f)->pMethods->xShmMap(Real(f), page, size, extend, out);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
  return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
}
void ShmBarrier(sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); }
int ShmUnmap(sqlite3_file* f, int remove) { return Real(f)->pMethods->xShmUnmap(Real(f), remove); }

int Open(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* out_flags) {
  auto* file = reinterpret_cast<FaultFile*>(f);
  file->real = reinterpret_cast<sqlite3_file*>(file + 1);
  if (read_only && (flags & SQLITE_OPEN_MAIN_DB))
    flags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY;
  const int rc = system_vfs->xOpen(system_vfs, name, file->real, flags, out_flags);
  // SQLite closes a file whose methods are set, even when opening failed.
  file->base.pMethods = file->real->pMethods ? &fault_methods : nullptr;
  return rc;
}

int Delete(sqlite3_vfs*, const char* name, int sync) {
  return system_vfs->xDelete(system_vfs, name, sync);
}
int Access(sqlite3_vfs*, const char* name, int flags, int* out) {
  return system_vfs->xAccess(system_vfs, name, flags, out);
}
int FullPathname(sqlite3_vfs*, const char* name, int n, char* out) {
  return system_vfs->xFullPathname(system_vfs, name, n, out);
}
int Randomness(sqlite3_vfs*, int n, char* out) {
  return system_vfs->xRandomness(system_vfs, n, out);
}
int Sleep(sqlite3_vfs*, int us) { return system_vfs->xSleep(system_vfs, us); }
int CurrentTime(sqlite3_vfs*, double* out) { return system_vfs->xCurrentTime(system_vfs, out); }
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) {
  return system_vfs->xCurrentTimeInt64(system_vfs, out);
}
int GetLastError(sqlite3_vfs*, int n, char* out) {
  return system_vfs->xGetLastError(system_vfs, n, out);
}

}  // namespace

void InstallFaultVfs() {
  if (system_vfs != nullptr) return;
  system_vfs = sqlite3_vfs_find(nullptr);
  fault_methods = sqlite3_io_methods{2,        Close,       Read,        Write,
                                     Truncate, Sync,        FileSize,    Lock,
                                     Unlock,   CheckReservedLock, FileControl, SectorSize,
                                     DeviceCharacteristics, ShmMap, ShmLock, ShmBarrier,
                                     ShmUnmap, nullptr,     nullptr};
  std::memset(&fault_vfs, 0, sizeof fault_vfs);
  fault_vfs.iVersion = 2;
  fault_vfs.szOsFile = static_cast<int>(sizeof(FaultFile)) + system_vfs->szOsFile;
  fault_vfs.mxPathname = system_vfs->mxPathname;
  fault_vfs.zName = "fault";
  fault_vfs.xOpen = Open;
  fault_vfs.xDelete = Delete;
  fault_vfs.xAccess = Access;
  fault_vfs.xFullPathname = FullPathname;
  fault_vfs.xDlOpen = nullptr;
  fault_vfs.xRandomness = Randomness;
  fault_vfs.xSleep = Sleep;
  fault_vfs.xCurrentTime = CurrentTime;
  fault_vfs.xGetLastError = GetLastError;
  fault_vfs.xCurrentTimeInt64 = CurrentTimeInt64;
  sqlite3_vfs_register(&fault_vfs, 1);
}

void SetDiskFull(bool full) { disk_full = full; }
void SetReadOnlyFiles(bool only) { read_only = only; }

}  // namespace runner::testing
