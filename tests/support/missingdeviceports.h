#pragma once

#include "port/portmap.h"

class QTemporaryDir;

// A port map in which every COM number leads to a device path in `dir` that does not exist, so a
// probe or an open never reaches a real serial port.
port::PortMap missingDevicePorts(const QTemporaryDir &dir);
