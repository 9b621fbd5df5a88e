// The application's word on the external MP3 encoder ("lame").  The
// engine's start-up checks the encoder once for every front end and marks
// MP3 output through it writable only with version 3.93 or newer; the
// application adds the alert for an encoder that is installed but too old.
#pragma once

class QWidget;

class EncoderCheck {
public:
    // After the engine's start-up: true when MP3 output is offered.  When
    // the encoder found is older than 3.93 the "LAME mp3-encoder Too Old"
    // alert is shown over `parent`; no encoder at all shows nothing.
    static bool run(QWidget* parent = nullptr);
};
