// Holds a write transaction on a SQLite database for a while, as another
// program on the controller might: `storage_lock_holder DB SECONDS`.
// Prints "locked" once it holds the lock.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <sqlite3.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: storage_lock_holder DB SECONDS\n");
    return 2;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open(argv[1], &db) != SQLITE_OK) return 1;
  sqlite3_busy_timeout(db, 5000);
  if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "%s\n", sqlite3_errmsg(db));
    return 1;
  }
  std::printf("locked\n");
  std::fflush(stdout);
  ::sleep(static_cast<unsigned>(std::atoi(argv[2])));
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return 0;
}
