// cache.h - mirador-dev's saved points on disk, so that they outlive a session.
//
// The saved points of the show (checkpoint.h) are kept in the user's cache folder:
// $XDG_CACHE_HOME/mirador, else ~/.cache/mirador, one file per period. Every file is
// named and stamped with a key made of everything that decides the show's state: the
// program's build (its executable's bytes), mirador.dat's bytes, the names, sizes and
// bytes of the --data folder's files, the output size and the GL driver's names. A key that differs uses
// nothing of another. A file is read whole and checked (its stamp, its length, a hash
// of its contents, then every length and value of the saved point) before anything in
// it is used; a damaged, truncated or foreign file is ignored with one line. Files
// are written under a temporary name and renamed, so a reader never sees half of one.
// The folder is bounded (DEV_CACHE_LIMIT bytes of saved points): the least recently
// used files go first. A folder that cannot be made or written leaves the tool
// working without it, with one line.
//
// Limits: the checkpoint calls need the show's GL thread; one key at a time.
#ifndef TOOLS_DEV_CACHE_H
#define TOOLS_DEV_CACHE_H

#include <stdint.h>

#include <string>
#include <vector>

#include "tools/dev/checkpoint.h"

#define DEV_CACHE_LIMIT (256ull << 20)

// ---- Calls ---------------------------------------------------------------------------
// Makes the key (datfile: mirador.dat as start-up found it; datadir: the --data
// folder or null; files: its files, names below it) and the folder. 0, with one line
// on standard output, when the cache cannot be used; the calls below then do nothing.
int dev_cache_open(const char *datfile, const char *datadir, const std::vector<std::string> &files, int width,
                   int height);
// The --data folder changed: a new key from its files as they are now.
void dev_cache_rekey(const std::vector<std::string> &files);
// Reads period's saved point of this key into cp: 1, or 0 (none, or one ignored with
// its line). Reading marks the file as used.
int dev_cache_load(int period, dev_checkpoint *cp);
// 1 when period's file of this key is there (not checked: dev_cache_load checks).
int dev_cache_has(int period);
// Writes cp as period's saved point of this key, then trims the folder to the limit.
void dev_cache_store(int period, const dev_checkpoint *cp);
const char *dev_cache_dir(void);  // the folder, or "" while the cache is not in use
uint64_t dev_cache_key(void);
// The bytes the folder's saved points take, all keys together.
uint64_t dev_cache_size(void);

#endif
