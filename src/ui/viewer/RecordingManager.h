#pragma once

// Records what the Viewer shows into an MP4 file. All writing happens on the
// manager's own "recording" thread, in the order of the calls: `start`,
// `stop` and `append` return at once. The file is created at the first
// picture, with that picture's size; presentation times come from a
// monotonic clock, starting at 0 with the first written picture.
//
// While written, the file is called "NAME-onvoltooid.mp4"; a finished
// recording is renamed to NAME.mp4 and revealed in the file manager. One that
// could not be finished (disk full) keeps the unfinished name and plays up to
// its last complete fragment. Files are created new and owner-only, and no
// existing file is ever replaced: when another program took a name first,
// the recording moves on to the next free one ("NAME-2.mp4", ...).

#include "interfaces/SessionComponents.h"
#include "video/playback/FrameRateMeter.h"
#include "video/playback/MovieWriter.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace velmarin::ui {

class RecordingManager : public SessionRecorder {
public:
    struct Options {
        // Where automatically named recordings go; empty: the Videos folder,
        // else the home folder.
        QString folder;
        bool revealInFileManager = true;
        // The monotonic clock for presentation times; empty: steady_clock.
        video::FrameRateMeter::Clock clock;
        // Pictures waiting for the recording thread beyond this are dropped
        // rather than held: the recording must not fall ever further behind.
        std::size_t maxQueuedPictures = 8;
    };

    // On the GUI thread (callbacks are delivered there).
    explicit RecordingManager(Options options);
    RecordingManager();
    // Finishes a running recording properly before it returns.
    ~RecordingManager() override;

    // Starts recording into `file`, or into a new file in the folder above
    // when `file` is empty. Does nothing while a recording runs.
    void start(const QString& file) override;
    void stop() override;
    // Called on the decode thread.
    void append(const video::Picture& picture) override;

    // Blocks until every call made so far has been carried out.
    void waitUntilIdle();

    // A hint for callers (the recording thread decides).
    bool isRecording() const { return m_requested.load() != 0; }
    // The file of the current or last recording (its final name; it changes
    // when another program takes the name first).
    QString outputPath() const override;

    // GUI thread: a finished recording's file, and a Dutch error text when a
    // recording could not be written.
    std::function<void(const QString& path)> onFinished;
    std::function<void(const QString& message)> onError;

private:
    using Job = std::function<void()>;

    void post(Job job, bool isPicture);
    void run();
    void toGui(std::function<void()> work);
    std::chrono::steady_clock::time_point now() const;

    // Recording thread only.
    void doStart(const QString& file, std::uint64_t number);
    void doAppend(const video::Picture& picture);
    void doStop();
    void finishFile();
    void reportError(const std::string& message);
    void setOutputPath(const QString& path);
    Expected<std::unique_ptr<video::MovieWriter>, video::RecordingError>
    createWriter(int width, int height);

    const Options m_options;
    std::unique_ptr<QObject> m_guiContext;
    // Callers' side: which start() asked for the recording now wanted (0:
    // none). The recording thread, stopping on its own after a write error,
    // clears it only if it still names that recording, so a stop followed
    // at once by a new start never loses the new recording's pictures.
    std::atomic<std::uint64_t> m_requested{0};
    std::atomic<std::uint64_t> m_starts{0};

    // Recording thread state.
    bool m_recording = false;
    std::uint64_t m_current = 0; // the start() this recording came from
    std::unique_ptr<video::MovieWriter> m_writer;
    bool m_sessionStarted = false;
    std::chrono::steady_clock::time_point m_startTime;
    QString m_partialPath;
    // The name the recording started with; when it is taken, the next free
    // one counts on from it ("NAME-2.mp4", not "NAME-2-2.mp4").
    QString m_chosenPath;
    bool m_setupErrorReported = false;

    mutable std::mutex m_pathMutex;
    QString m_outputPath;

    std::mutex m_mutex;
    std::condition_variable m_workAvailable;
    std::condition_variable m_idle;
    std::deque<std::pair<Job, bool>> m_jobs;
    std::size_t m_queuedPictures = 0;
    bool m_busy = false;
    bool m_stopping = false;
    std::thread m_thread; // last: starts once everything above exists
};

} // namespace velmarin::ui
