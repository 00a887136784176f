#pragma once
#include <cstdint>
#include <QString>
