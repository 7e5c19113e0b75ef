#include "SoundState.h"

#include "common/Paths.h"

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
        m_arquivo = path;
        if (m_player) carregar();
    }

    bool play() override {
        if (!temSaida()) return false;
        if (!m_player) criarPlayer();
        if (!carregar()) return false;
        m_player->setPosition(0);
        m_player->play();
        return true;
    }

    void stop() override {
        if (m_player) m_player->stop();
    }

    void playOnce(const QString &path) override {
        if (!temSaida() || !QFileInfo(path).isFile()) return;
        if (!m_efeito) {
            m_efeito = new QSoundEffect(this);
            m_efeito->setLoopCount(1);
        }
        const QUrl url = QUrl::fromLocalFile(path);
        m_efeito->stop();
        if (m_efeito->source() != url) m_efeito->setSource(url);
        m_efeito->play(); // waits for the file to load when it is new
    }

private:
    static bool temSaida() { return !QMediaDevices::defaultAudioOutput().isNull(); }

    void criarPlayer() {
        m_saida = new QAudioOutput(this);
        m_player = new QMediaPlayer(this);
        m_player->setAudioOutput(m_saida);
        connect(m_player, &QMediaPlayer::mediaStatusChanged, this,
                [this](QMediaPlayer::MediaStatus status) {
                    if (status == QMediaPlayer::EndOfMedia && onFinished) onFinished();
                });
        // Errors end that playback only; nobody is told.
        connect(m_player, &QMediaPlayer::errorOccurred, this, [] {});
    }

    // Opens the current file in the player; false when there is nothing playable.
    bool carregar() {
        const bool existe = !m_arquivo.isEmpty() && QFileInfo(m_arquivo).isFile();
        const QUrl url = existe ? QUrl::fromLocalFile(m_arquivo) : QUrl();
        if (m_player->source() != url) m_player->setSource(url);
        return existe;
    }

    QString m_arquivo;
    QAudioOutput *m_saida = nullptr;
    QMediaPlayer *m_player = nullptr;
    QSoundEffect *m_efeito = nullptr;
};

} // namespace

std::unique_ptr<SoundBackend> criarSoundBackendQt() {
    return std::make_unique<QtSoundBackend>();
}

QString SoundState::arquivoInicial() {
    return QStringLiteral("C:\\Tulmo\\Sons\\P8Sound.wav");
}

QString SoundState::somPadrao() {
    return Paths::resolveStoredPath(arquivoInicial());
}

SoundState::SoundState(std::unique_ptr<SoundBackend> backend, QObject *parent)
    : QObject(parent)
    , m_backend(backend ? std::move(backend) : criarSoundBackendQt())
    , m_timerSons(new QTimer(this)) {
    m_timerSons->setInterval(10);
    m_timerSons->setSingleShot(true);
    connect(m_timerSons, &QTimer::timeout, this, &SoundState::Timer_SonsTimer);
    // Queued: the player finishes its own bookkeeping before it is stopped and replayed.
    m_backend->onFinished = [this] {
        QMetaObject::invokeMethod(this, &SoundState::MediaPlayer1Notify, Qt::QueuedConnection);
    };
    carregar(arquivoInicial());
}

SoundState::~SoundState() {
    m_backend->onFinished = nullptr;
    m_backend->stop();
}

void SoundState::carregar(const QString &stored) {
    m_arquivo = Paths::resolveStoredPath(stored);
    m_backend->setFile(m_arquivo);
}

void SoundState::setLigado(bool ligado) {
    m_ligado = ligado;
    emit indicadorMudou(ligado);
}

void SoundState::stopPlayer() {
    m_backend->stop();
}

void SoundState::playRepeating(const QString &path) {
    if (path.trimmed().isEmpty()) return; // nothing to play, and the indicator stays as it is
    carregar(path);
    setLigado(true);
    m_backend->stop();
    m_backend->play();
}

void SoundState::playOnce(const QString &path) {
    QString arquivo = Paths::resolveStoredPath(path);
    if (arquivo.isEmpty() || !QFileInfo(arquivo).isFile()) arquivo = somPadrao();
    m_backend->playOnce(arquivo);
}

void SoundState::tocarAlerta(const QString &path) {
    carregar(path);
    m_backend->stop();
    m_backend->play();
}

void SoundState::Som_LigadoClick() {
    setLigado(false);
    // A restart already on its way would otherwise play the sound once more.
    m_timerSons->stop();
    m_backend->stop();
}

void SoundState::Som_DesligadoClick() {
    setLigado(true);
}

void SoundState::MediaPlayer1Notify() {
    if (!m_ligado) return;
    m_backend->stop();
    m_timerSons->start();
}

void SoundState::Timer_SonsTimer() {
    m_timerSons->stop();
    m_backend->play();
}

} // namespace tulmo
