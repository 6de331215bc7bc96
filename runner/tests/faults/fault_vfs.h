#pragma once
// A SQLite VFS that wraps the system's and fails on demand, made the
// default for the process: every database opened afterwards goes through
// it. Writes fail with SQLITE_FULL while the disk is "full"; a database
// file opens read-only while files are "read-only".

namespace runner::testing {

void InstallFaultVfs();
void SetDiskFull(bool full);
void SetReadOnlyFiles(bool read_only);

}  // namespace runner::testing
