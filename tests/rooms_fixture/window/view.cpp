#include "engine/api.h"
#include "engine/impl.h"
#include "flv/reader.h"
#include <QWidget>
#include <mpv/client.h>
