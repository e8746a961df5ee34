#pragma once

// libavcodec's own messages, through the log sink instead of stderr.

namespace velmarin::video {

// Sends libavcodec's warnings and worse to the log sink at debug level, in
// "encoding" or "decoding": a corrupt frame from the network makes the h264
// decoder complain loudly, and that is expected, not news for the user. The
// first encoder or decoder calls it; calling it again does nothing.
void routeCodecLogs();

} // namespace velmarin::video
