#include "ui/viewer/RecordingManager.h"

#include "log/LogSink.h"
#include "ui/viewer/FileReveal.h"
#include "ui/viewer/RecordingLocation.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <filesystem>
#include <pthread.h>

namespace {

// Names tried when other programs keep taking the next free one.
constexpr int kNameAttempts = 100;

} // namespace

namespace velmarin::ui {

RecordingManager::RecordingManager()
    : RecordingManager(Options{}) {}

RecordingManager::RecordingManager(Options options)
    : m_options(std::move(options))
    , m_guiContext(std::make_unique<QObject>())
    , m_thread([this] { run(); }) {}

RecordingManager::~RecordingManager() {
    stop();
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_workAvailable.notify_all();
    m_thread.join();
    // Drops callbacks still queued for the GUI thread.
    m_guiContext.reset();
}

void RecordingManager::start(const QString& file) {
    // Pictures handed over from now on belong to the recording, even before
    // the recording thread has opened it.
    const auto number = ++m_starts;
    m_requested.store(number);
    post([this, file, number] { doStart(file, number); }, false);
}

void RecordingManager::stop() {
    m_requested.store(0);
    post([this] { doStop(); }, false);
}

void RecordingManager::append(const video::Picture& picture) {
    // Cheap early exit; the recording thread checks again.
    if (m_requested.load() == 0 || picture.isNull())
        return;
    post([this, picture] { doAppend(picture); }, true);
}

void RecordingManager::waitUntilIdle() {
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_jobs.empty() && !m_busy; });
}

QString RecordingManager::outputPath() const {
    const std::lock_guard lock(m_pathMutex);
    return m_outputPath;
}

void RecordingManager::post(Job job, bool isPicture) {
    {
        const std::lock_guard lock(m_mutex);
        if (isPicture) {
            if (m_queuedPictures >= m_options.maxQueuedPictures)
                return;
            ++m_queuedPictures;
        }
        m_jobs.emplace_back(std::move(job), isPicture);
    }
    m_workAvailable.notify_one();
}

void RecordingManager::run() {
    pthread_setname_np(pthread_self(), "recording");
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_workAvailable.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_jobs.empty())
            return; // stopping, and the final stop has run
        auto [job, isPicture] = std::move(m_jobs.front());
        m_jobs.pop_front();
        if (isPicture)
            --m_queuedPictures;
        m_busy = true;
        lock.unlock();
        job();
        lock.lock();
        m_busy = false;
        if (m_jobs.empty())
            m_idle.notify_all();
    }
}

void RecordingManager::toGui(std::function<void()> work) {
    QMetaObject::invokeMethod(m_guiContext.get(), std::move(work), Qt::QueuedConnection);
}

std::chrono::steady_clock::time_point RecordingManager::now() const {
    return m_options.clock ? m_options.clock() : std::chrono::steady_clock::now();
}

void RecordingManager::doStart(const QString& file, std::uint64_t number) {
    if (m_recording)
        return;
    m_current = number;
    QString path = file;
    if (path.isEmpty()) {
        const QString folder = m_options.folder.isEmpty() ? recordingFolder() : m_options.folder;
        path = freePath(QDir(folder).filePath(recordingFileName(QDateTime::currentDateTime())));
    }
    m_chosenPath = QFileInfo(path).absoluteFilePath();
    setOutputPath(m_chosenPath);
    m_sessionStarted = false;
    m_setupErrorReported = false;
    m_recording = true;
    toGui([this] {
        if (onStateChange)
            onStateChange(true);
    });
}

void RecordingManager::doAppend(const video::Picture& picture) {
    if (!m_recording)
        return;
    if (!m_writer) {
        auto created = createWriter(picture.width(), picture.height());
        if (!created) {
            // Every later picture tries again; say it once.
            if (!m_setupErrorReported) {
                m_setupErrorReported = true;
                logging::log(logging::Level::error, "decoding",
                             "Recording: failed to create writer: %s",
                             created.error().description.c_str());
                reportError(created.error().description);
            }
            return;
        }
        m_writer = std::move(*created);
    }
    const auto time = now();
    if (!m_sessionStarted) {
        m_startTime = time;
        m_sessionStarted = true;
    }
    if (const auto written = m_writer->write(picture, time - m_startTime); !written) {
        // The disk is full or the file is gone: keep what was written and
        // end the recording.
        logging::log(logging::Level::error, "decoding", "Recording: %s",
                     written.error().description.c_str());
        reportError(written.error().description);
        auto mine = m_current;
        m_requested.compare_exchange_strong(mine, 0);
        doStop();
    }
}

void RecordingManager::doStop() {
    if (!m_recording)
        return;
    m_recording = false;
    if (m_writer)
        finishFile();
    m_sessionStarted = false;
    toGui([this] {
        if (onStateChange)
            onStateChange(false);
    });
}

void RecordingManager::finishFile() {
    const auto finished = m_writer->finish();
    const bool wrotePictures = m_writer->picturesWritten() > 0;
    m_writer.reset();
    if (!finished) {
        logging::log(logging::Level::error, "decoding", "Recording: finishing failed: %s",
                     finished.error().description.c_str());
        reportError(finished.error().description);
        return; // the file keeps its unfinished name
    }
    if (!wrotePictures) {
        std::error_code ignored;
        std::filesystem::remove(m_partialPath.toStdString(), ignored);
        return;
    }
    QString finalPath = outputPath();
    std::error_code renameError;
    for (int attempt = 1;; ++attempt) {
        renameError =
            video::renameWithoutReplacing(m_partialPath.toStdString(), finalPath.toStdString());
        if (renameError != std::errc::file_exists || attempt == kNameAttempts)
            break;
        // Another program took the name while we recorded.
        finalPath = freePath(m_chosenPath);
    }
    if (renameError) {
        reportError("De opname staat in " + m_partialPath.toStdString() + ": hernoemen mislukt (" +
                    renameError.message() + ")");
        return;
    }
    {
        const std::lock_guard lock(m_pathMutex);
        m_outputPath = finalPath;
    }
    toGui([this, finalPath] {
        if (m_options.revealInFileManager)
            revealInFileManager(finalPath);
        if (onFinished)
            onFinished(finalPath);
    });
}

void RecordingManager::setOutputPath(const QString& path) {
    {
        const std::lock_guard lock(m_pathMutex);
        m_outputPath = path;
    }
    m_partialPath = unfinishedPath(path);
}

// The unfinished file is created at the first picture, exclusively: a name
// that something took since start() chose it (a file, or a link planted to
// make us overwrite another file) makes the recording move on to the next
// free name. What fails after the file exists removes it again.
Expected<std::unique_ptr<video::MovieWriter>, video::RecordingError>
RecordingManager::createWriter(int width, int height) {
    auto file = video::OutputFile::createNew(m_partialPath.toStdString());
    for (int attempt = 1; attempt < kNameAttempts; ++attempt) {
        if (file || file.error() != std::errc::file_exists)
            break;
        setOutputPath(freePath(m_chosenPath));
        file = video::OutputFile::createNew(m_partialPath.toStdString());
    }
    if (!file)
        return unexpected(video::RecordingError{"Opnamebestand kan niet worden aangemaakt: " +
                                                file.error().message() + " (" +
                                                m_partialPath.toStdString() + ")"});
    auto created = video::MovieWriter::create(std::move(*file), width, height);
    if (!created) {
        std::error_code ignored;
        std::filesystem::remove(m_partialPath.toStdString(), ignored);
    }
    return created;
}

void RecordingManager::reportError(const std::string& message) {
    toGui([this, text = QString::fromStdString(message)] {
        if (onError)
            onError(text);
    });
}

} // namespace velmarin::ui
