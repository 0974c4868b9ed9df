// What the batch tool knows of one file: the worker's step (FileWork) and the batch's own
// findings beside it, from its catalogue and its save. Used by the batch, its reporter and its
// catalogue.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "app/run_step.h"
#include "catalog/catalog.h"

namespace tessaly::cli {

struct FileResult : FileWork {
  // Another input of this run, as given, that proposed the same target first, and whether this
  // file's save replaced the result saved for it.
  std::filesystem::path collides_with;
  bool replaced_collision = false;
  // After a save: the sidecar was not written because a file not written by this tool has its
  // name (sidecar_kept), or writing it failed (sidecar_error, naming the file).
  bool sidecar_kept = false;
  std::string sidecar_error;
  // With --catalog: the input's stamp, taken before it was read, and the hash of the bytes read.
  std::optional<SourceFacts> source;
  // Recalled from its catalogue row (FileWork::recalled): the saved PNG's size and hash.
  int recorded_width = 0, recorded_height = 0;
  std::string recorded_output_hash;
  // With --catalog, unless --recheck: the problem its row records of the input as it is now,
  // which the user acknowledged; the file is left alone, unread, when no result of it stands.
  std::string acknowledged_problem;
  bool left_alone = false;
  // Once its fate is settled: the file's problem is the acknowledged one, not reported again.
  bool problem_known = false;
};

}  // namespace tessaly::cli
