#include "fault_vfs.h"

#include <atomic>

#include <sqlite3.h>

namespace runner::testing {
namespace {

std::atomic<bool> disk_full{false};
std::atomic<bool> read_only{false};
sqlite3_vfs* system_vfs = nullptr;
sqlite3_vfs fault_vfs;
// The system's file methods (the database, its journals and its log each
// have their own) with writing and syncing replaced.
struct Methods {
  const sqlite3_io_methods* system = nullptr;
  sqlite3_io_methods fault{};
};
Methods methods[8];

const sqlite3_io_methods* SystemOf(sqlite3_file* f) {
  for (const Methods& m : methods)
    if (f->pMethods == &m.fault) return m.system;
  return nullptr;
}

int Write(sqlite3_file* f, const void* p, int n, sqlite3_int64 at) {
  return disk_full ? SQLITE_FULL : SystemOf(f)->xWrite(f, p, n, at);
}

int Sync(sqlite3_file* f, int flags) {
  return disk_full ? SQLITE_FULL : SystemOf(f)->xSync(f, flags);
}

int Open(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* out_flags) {
  if (read_only && (flags & SQLITE_OPEN_MAIN_DB))
    flags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY;
  const int rc = system_vfs->xOpen(system_vfs, name, f, flags, out_flags);
  for (Methods& m : methods) {
    if (f->pMethods == nullptr) break;
    if (m.system == nullptr) {
      m.system = f->pMethods;
      m.fault = *f->pMethods;
      m.fault.xWrite = Write;
      m.fault.xSync = Sync;
    }
    if (m.system == f->pMethods) {
      f->pMethods = &m.fault;
      break;
    }
  }
  return rc;
}

}  // namespace

void InstallFaultVfs() {
  if (system_vfs != nullptr) return;
  system_vfs = sqlite3_vfs_find(nullptr);
  fault_vfs = *system_vfs;
  fault_vfs.pNext = nullptr;
  fault_vfs.zName = "fault";
  fault_vfs.xOpen = Open;
  sqlite3_vfs_register(&fault_vfs, 1);
}

void SetDiskFull(bool full) { disk_full = full; }
void SetReadOnlyFiles(bool only) { read_only = only; }

}  // namespace runner::testing
