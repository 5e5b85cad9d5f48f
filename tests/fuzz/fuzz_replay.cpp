// libFuzzer target: any block of bytes read as a replay file. A block that is accepted must
// decode to exactly the frames it claims and encode back to the same bytes, so the reader and
// the writer agree on every field.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/replay_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Replay replay;
  std::string error;
  if (!replay_decode(data, size, replay, error)) {
    if (error.empty()) std::abort();  // a refusal must say why
    return 0;
  }
  const std::vector<InputFrame> frames = replay_frames(replay);
  if (static_cast<int64_t>(frames.size()) != replay.frame_count) std::abort();
  // Re-encoding the decoded frames gives frame data that decodes to the same frames.
  ReplayEncoder encoder;
  for (const InputFrame& frame : frames) encoder.add(frame);
  Replay again = replay;
  again.frame_data.clear();
  encoder.finish(again.frame_data);
  if (replay_frames(again) != frames) std::abort();
  // The header and checkpoints are written back byte for byte.
  const std::vector<uint8_t> bytes = replay_encode(replay);
  if (bytes.size() != size || !std::equal(bytes.begin(), bytes.end(), data)) std::abort();
  return 0;
}
