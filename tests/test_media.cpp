#include "test_media.h"

#include <QDir>
#include <QProcess>

namespace movarin::testing {

bool runFfmpeg(const QStringList& args) {
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::ForwardedChannels);
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 QStringList{"-y", "-hide_banner", "-loglevel", "error"} + args);
    return ffmpeg.waitForFinished(120000) && ffmpeg.exitStatus() == QProcess::NormalExit &&
           ffmpeg.exitCode() == 0;
}

QString makeSparkFlv(const QString& dir, const QString& name, int seconds) {
    const QString path = QDir(dir).filePath(name);
    const QString d = QString::number(seconds);
    const bool ok = runFfmpeg({"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=" + d,
                               "-f", "lavfi", "-i", "sine=frequency=440:duration=" + d, "-c:v",
                               "flv1", "-c:a", "libmp3lame", "-ar", "44100", path});
    return ok ? path : QString();
}

QString makeH264Flv(const QString& dir, int width, int height, const QString& name, int seconds) {
    const QString path = QDir(dir).filePath(name);
    const QString size = QStringLiteral("%1x%2").arg(width).arg(height);
    const bool ok =
        runFfmpeg({"-f", "lavfi", "-i",
                   "testsrc2=size=" + size + ":rate=25:duration=" + QString::number(seconds),
                   "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", path});
    return ok ? path : QString();
}

QString makeRedBlueFlv(const QString& dir, int width, int height) {
    const QString path = QDir(dir).filePath(QStringLiteral("redblue.flv"));
    const QString half = QStringLiteral("%1x%2").arg(width / 2).arg(height);
    const bool ok = runFfmpeg(
        {"-f", "lavfi", "-i",
         "color=c=red:s=" + half + ":d=2[a];color=c=blue:s=" + half + ":d=2[b];[a][b]hstack",
         "-c:v", "flv1", "-q:v", "2", path});
    return ok ? path : QString();
}

bool colourful(const QImage& image) {
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() + c.green() + c.blue() > 150)
                return true;
        }
    return false;
}

} // namespace movarin::testing
