// What became of each file of a run, and the counts of a run: the one record both front ends
// word in their own way and the batch tool's catalogue maps to its column words.
#pragma once

#include "app/processor.h"

namespace tessaly {

// What became of one file, each file under exactly one.
enum class Fate {
  kSaved,
  kWouldSave,      // not saved yet: a dry run, or a window that saves only when asked
  kUnchanged,      // the proposal is the file's own name
  kDeclined,       // not saved: the target exists and was not to be replaced
  kKeptOriginal,   // not saved: the target is no result of this tool
  kUpToDate,       // not saved: the target is the tool's result, made since the input changed
  kCollided,       // not saved: an earlier input of this run took the target
  kWouldCollide,   // dry run: an earlier input of this run takes the target
  kUnreadLeft,     // header not read and the run saves nothing for such files
  kSkipped,        // not a picture the tool reads
  kAlreadyResult,  // a result of this tool, not taken again
  kFailed,
  // Left alone, unread: the batch's catalogue records a problem of the file, as it is now, that
  // the user acknowledged, and no result of it stands.
  kKnown,
};

// True for the fates of a file that was processed (its picture, if any, is the file's).
bool ProcessedFate(Fate fate);

// The state of the header that a run counts for the file: kNamed also for a file not processed,
// and kDoubtful also for a doubtful reading that named it (--accept-doubtful).
HeaderState CountedHeaderState(Fate fate, const PictureResult* picture);

// What became of the files of a run.
struct RunCounts {
  int seen = 0, saved = 0, would_save = 0, unchanged = 0, skipped = 0, failed = 0;
  int declined = 0;        // not saved: the target exists and was not to be replaced
  int unread = 0;          // header not read, whatever then became of the file
  int unnamed = 0;         // header read, but it gave no name
  int doubtful = 0;        // header read too weakly to trust (named from or not)
  int results = 0;         // already results
  int originals_kept = 0;  // targets kept because this tool did not write them
  int sidecars_kept = 0;   // sidecars not written: a file of that name is not the tool's
  int up_to_date = 0;
  int sidecars_added = 0;  // missing sidecars written for up-to-date results
  int collided = 0;        // not saved, or in a dry run would collide: another input took the name
  int known = 0;  // the file's problem was acknowledged: left alone, or its header not counted
  // `picture`: the processed file's result; null for a file not processed. A file whose header
  // gave no name is counted apart as well as by what became of it, so that "saved" still says
  // how many pictures were written. `problem_known`: the file's problem is the one the user
  // acknowledged, so it counts under known instead (a file left alone, kKnown, always does).
  void Add(Fate fate, const PictureResult* picture, bool problem_known = false);
  // Files whose header did not surely give their name (what --strict looks for).
  int Untrusted() const { return unread + unnamed + doubtful; }
};

}  // namespace tessaly
