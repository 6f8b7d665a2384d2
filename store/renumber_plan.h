// The order of renames that gives a folder's files their new numbers with one
// rename a file: a file moves as soon as the name it is to take is free, and a
// ring of files that each wait for the next one's name is opened by moving one
// of them aside under its "NNNN.tmp" name first.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillo {

struct RenameStep {
  std::string from;
  std::string to;
  size_t ring = 0;         // steps of one ring share a number above 0; 0 outside rings
  bool aside = false;      // the move that opens a ring
};

// The renames that take the files `names` to `targets` (one target a file,
// all different, compared without regard to letter case). Files already under
// their target get no step; a name differing only in letter case gets one.
// Nothing when two names are one name in another letter case, or when a target
// is taken by a file outside `names` (`takenOutside` tells): those folders need
// a detour through temporary names for every file.
std::optional<std::vector<RenameStep>> PlanRenames(const std::vector<std::string>& names,
                                                   const std::vector<std::string>& targets,
                                                   const std::function<bool(const std::string&)>& takenOutside);

// "NNNN.tmp" for the target "NNNN.txt": where a ring's first file waits.
std::string AsideName(const std::string& target);

}  // namespace quillo
