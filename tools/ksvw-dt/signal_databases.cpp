#include "tools/ksvw-dt/signal_databases.h"

#include <cstdio>
#include <cstring>

#include "signals/dbc_parser.h"
#include "signals/signal_export.h"

namespace ksvw::dt {

int DatabaseOptions::Take(int argc, char** argv, int& i) {
  const char** slot = std::strcmp(argv[i], "--dbc") == 0    ? &dbc
                      : std::strcmp(argv[i], "--dbc2") == 0 ? &dbc2
                                                            : nullptr;
  if (slot == nullptr || i + 1 >= argc) return 0;
  *slot = argv[++i];
  return 1;
}

namespace {

bool LoadOne(const char* path, signals::Database& into) {
  signals::DbcError error;
  if (signals::LoadDbcFile(path, into, error)) return true;
  std::fprintf(stderr, "ksvw-dt: %s\n", error.Text().c_str());
  return false;
}

}  // namespace

bool LoadedDatabases::Load(const DatabaseOptions& options) {
  if (!LoadOne(options.dbc, first_)) return false;
  decoder_.SetDatabase(1, &first_);
  decoder_.SetDatabase(2, &first_);
  if (options.dbc2 == nullptr) return true;
  if (!LoadOne(options.dbc2, second_)) return false;
  decoder_.SetDatabase(2, &second_);
  return true;
}

bool LoadedDatabases::Matches(const std::string& pattern, const char* option) const {
  for (int channel : {1, 2}) {
    if (signals::SignalSelection::MatchesAny(pattern, *decoder_.DatabaseOf(channel))) return true;
  }
  std::fprintf(stderr, "ksvw-dt: %s '%s' matches no signal of the database\n", option,
               pattern.c_str());
  return false;
}

}  // namespace ksvw::dt
