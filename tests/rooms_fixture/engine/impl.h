#include "flv/reader.h"
#include <mpv/client.h>
#include <QObject>
