#pragma once

#include "core/common/Sound.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QTimer;

namespace tulmo {

// The platform side of sound: what actually makes noise. The console uses the media player
// for sounds that repeat and a one-shot call for the rest; tests put a recorder here.
// Paths reaching a backend are already resolved to files of this machine.
class SoundBackend {
public:
    virtual ~SoundBackend() = default;
    // The repeating player: load (opening the file at once), play from the start, stop.
    // Failures are swallowed; play() tells whether playback could start.
    virtual void setFile(const QString &path) = 0;
    virtual bool play() = 0;
    virtual void stop() = 0;
    // One-shot, asynchronous; a new call replaces the sound still playing.
    virtual void playOnce(const QString &path) = 0;
    // Called by the backend when a playback of the repeating player reached its end.
    std::function<void()> onFinished;
};

// The real backend: a QMediaPlayer with its QAudioOutput for the repeating player and a
// QSoundEffect for the one-shot sounds. Without an audio output it stays silent.
std::unique_ptr<SoundBackend> createQtSoundBackend();

// The console's sound state: the media player with its completion notice and Timer_Sons,
// and the on/off indicator (Som_Ligado / Som_Desligado).
class SoundState : public QObject, public SoundOutput {
    Q_OBJECT
public:
    // The player's file until a continuous or supervision sound replaces it.
    static QString initialFile();
    // The bundled sound that stands for a one-shot file that is empty or missing.
    static QString defaultSound();

    // Without a backend the real one (Qt Multimedia) is used.
    explicit SoundState(std::unique_ptr<SoundBackend> backend = nullptr, QObject *parent = nullptr);
    ~SoundState() override;

    void stopPlayer() override;
    void playRepeating(const QString &path) override;
    void playOnce(const QString &path) override;

    // The indicator: on means a continuous sound repeats when it completes.
    bool soundOn() const { return m_soundOn; }
    void Som_LigadoClick();    // indicator off, player stopped
    void Som_DesligadoClick(); // indicator on; nothing starts playing
    // The supervision alerts: the rearm sound in the player, from the start. The indicator
    // is left to the caller.
    void playAlert(const QString &path);

    // Whether an event's continuous sound is sounding (until silenced, stopped or replaced by
    // a supervision alert).
    bool continuousPlaying() const { return m_continuous; }
    // The player's current file, resolved.
    const QString &currentFile() const { return m_file; }
    SoundBackend &backend() { return *m_backend; }
    QTimer *soundTimer() const { return m_soundTimer; }
    // Timer_Sons fired: the player starts again from the beginning.
    void Timer_SonsTimer();

signals:
    // Emitted at every switch, also when the state stays the same, so that the window can
    // show exactly one of its two pictures from the first switch on.
    void indicatorChanged(bool soundOn);

private:
    void MediaPlayer1Notify();
    void setSoundOn(bool soundOn);
    void loadFile(const QString &stored);

    std::unique_ptr<SoundBackend> m_backend;
    QTimer *m_soundTimer;
    QString m_file;
    bool m_soundOn = true;
    bool m_continuous = false;
};

} // namespace tulmo
