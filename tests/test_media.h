#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

// Small videos made on the spot with the ffmpeg command line, so tests need no binary fixtures.
namespace movarin::testing {

// Runs ffmpeg with the given arguments (after "-y -hide_banner -loglevel error"); true on success.
bool runFfmpeg(const QStringList& args);

// Sorenson Spark 320x240 with an MP3 tone, `seconds` long.
QString makeSparkFlv(const QString& dir, const QString& name = QStringLiteral("spark.flv"),
                     int seconds = 3);
// H.264 at the given size, no audio.
QString makeH264Flv(const QString& dir, int width, int height,
                    const QString& name = QStringLiteral("h264.flv"), int seconds = 2);
// Left half pure red, right half pure blue.
QString makeRedBlueFlv(const QString& dir, int width = 320, int height = 240);

// Any sampled pixel brighter than near-black: a picture is shown, not an empty or black one.
bool colourful(const QImage& image);

} // namespace movarin::testing
