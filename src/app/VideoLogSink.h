#pragma once

// Routes the video and capture libraries' log lines into the application's
// categories ("capture", "encoding", "decoding", "network").

namespace velmarin {

// Installs the process-wide sink; call once at start-up. Lines with an
// unknown category go to Log::capture rather than being lost.
void routeVideoLogs();

} // namespace velmarin
