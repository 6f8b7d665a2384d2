// The order of renames that gives a folder's files their new numbers with one
// rename a file: a file moves as soon as the name it is to take is free, and a
// ring of files that each wait for the next one's name is opened by moving one
// of them aside under its "NNNN.tmp" name first.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

// One rename; its names are valid during the call it is given to.
struct RenameStep {
  std::string_view from;
  std::string_view to;
  size_t file = 0;         // the position of the file that moves
  size_t ring = 0;         // steps of one ring share a number above 0; 0 outside rings
  bool aside = false;      // the move that opens a ring
};

// The renames that take the files `names` to `targets` (one target a file,
// all different, compared without regard to letter case), given to `step` one
// after the other. Files already under their target get no step; a name
// differing only in letter case gets one. False, before any step, when two
// names are one name in another letter case, or when a target is taken by a
// file outside `names` (`takenOutside` tells): those folders need a detour
// through temporary names for every file.
bool PlanRenames(const std::vector<std::string_view>& names, const std::vector<std::string_view>& targets,
                 const std::function<bool(std::string_view)>& takenOutside,
                 const std::function<void(const RenameStep&)>& step);

// "NNNN.tmp" for the target "NNNN.txt": where a ring's first file waits.
std::string AsideName(std::string_view target);

}  // namespace quillo
