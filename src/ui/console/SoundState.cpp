#include "SoundState.h"

#include "core/common/Paths.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QFileInfo>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>

namespace tulmo {

namespace {

// Qt Multimedia behind the two sound calls. Every step checks for an audio output first: a
// workstation without one (or a session without a sound server) plays nothing and says
// nothing, instead of an error on every event. Players are made on first use, so a console
// that never sounds never loads the media plugin.
class QtSoundBackend final : public QObject, public SoundBackend {
public:
    void setFile(const QString &path) override {
        m_file = path;
        if (m_player) loadFile();
    }

    bool play() override {
        if (!temSaida()) return false;
        if (!m_player) createPlayer();
        if (!loadFile()) return false;
        m_player->setPosition(0);
        m_player->play();
        return true;
    }

    void stop() override {
        if (m_player) m_player->stop();
    }

    void playOnce(const QString &path) override {
        if (!temSaida() || !QFileInfo(path).isFile()) return;
        if (!m_effect) {
            m_effect = new QSoundEffect(this);
            m_effect->setLoopCount(1);
        }
        const QUrl url = QUrl::fromLocalFile(path);
        m_effect->stop();
        if (m_effect->source() != url) m_effect->setSource(url);
        m_effect->play(); // waits for the file to load when it is new
    }

private:
    static bool temSaida() { return !QMediaDevices::defaultAudioOutput().isNull(); }

    void createPlayer() {
        m_output = new QAudioOutput(this);
        m_player = new QMediaPlayer(this);
        m_player->setAudioOutput(m_output);
        connect(m_player, &QMediaPlayer::mediaStatusChanged, this,
                [this](QMediaPlayer::MediaStatus status) {
                    if (status == QMediaPlayer::EndOfMedia && onFinished) onFinished();
                });
        // Errors end that playback only; nobody is told.
        connect(m_player, &QMediaPlayer::errorOccurred, this, [] {});
    }

    // Opens the current file in the player; false when there is nothing playable.
    bool loadFile() {
        const bool fileExists = !m_file.isEmpty() && QFileInfo(m_file).isFile();
        const QUrl url = fileExists ? QUrl::fromLocalFile(m_file) : QUrl();
        if (m_player->source() != url) m_player->setSource(url);
        return fileExists;
    }

    QString m_file;
    QAudioOutput *m_output = nullptr;
    QMediaPlayer *m_player = nullptr;
    QSoundEffect *m_effect = nullptr;
};

} // namespace

std::unique_ptr<SoundBackend> createQtSoundBackend() {
    return std::make_unique<QtSoundBackend>();
}

QString SoundState::initialFile() {
    return QStringLiteral("C:\\Tulmo\\Sons\\P8Sound.wav");
}

QString SoundState::defaultSound() {
    return Paths::resolveStoredPath(initialFile());
}

SoundState::SoundState(std::unique_ptr<SoundBackend> backend, QObject *parent)
    : QObject(parent)
    , m_backend(backend ? std::move(backend) : createQtSoundBackend())
    , m_soundTimer(new QTimer(this)) {
    m_soundTimer->setInterval(10);
    m_soundTimer->setSingleShot(true);
    connect(m_soundTimer, &QTimer::timeout, this, &SoundState::Timer_SonsTimer);
    // Queued: the player finishes its own bookkeeping before it is stopped and replayed.
    m_backend->onFinished = [this] {
        QMetaObject::invokeMethod(this, &SoundState::MediaPlayer1Notify, Qt::QueuedConnection);
    };
    loadFile(initialFile());
}

SoundState::~SoundState() {
    m_backend->onFinished = nullptr;
    m_backend->stop();
}

void SoundState::loadFile(const QString &stored) {
    m_file = Paths::resolveStoredPath(stored);
    m_backend->setFile(m_file);
}

void SoundState::setSoundOn(bool soundOn) {
    m_soundOn = soundOn;
    emit indicatorChanged(soundOn);
}

void SoundState::stopPlayer() {
    m_continuous = false;
    m_backend->stop();
}

void SoundState::playRepeating(const QString &path) {
    if (path.trimmed().isEmpty()) return; // nothing to play, and the indicator stays as it is
    loadFile(path);
    setSoundOn(true);
    m_backend->stop();
    m_backend->play();
    m_continuous = true;
}

void SoundState::playOnce(const QString &path) {
    QString fileName = Paths::resolveStoredPath(path);
    if (fileName.isEmpty() || !QFileInfo(fileName).isFile()) fileName = defaultSound();
    m_backend->playOnce(fileName);
}

void SoundState::playAlert(const QString &path) {
    m_continuous = false;
    loadFile(path);
    m_backend->stop();
    m_backend->play();
}

void SoundState::Som_LigadoClick() {
    m_continuous = false;
    setSoundOn(false);
    // A restart already on its way would otherwise play the sound once more.
    m_soundTimer->stop();
    m_backend->stop();
}

void SoundState::Som_DesligadoClick() {
    setSoundOn(true);
}

void SoundState::MediaPlayer1Notify() {
    if (!m_soundOn) return;
    m_backend->stop();
    m_soundTimer->start();
}

void SoundState::Timer_SonsTimer() {
    m_soundTimer->stop();
    m_backend->play();
}

} // namespace tulmo
