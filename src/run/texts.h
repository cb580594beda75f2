// The fixed texts printed at start-up.
#pragma once

#include "imutap_version.h"

constexpr const char* banner_text = "AHRS Inertial Unit data reading " IMUTAP_VERSION "\n";

constexpr const char* help_text =
    "usage: imutap <file> <options>\n"
    "Available options are: \n"
    "-m <mode> where <mode> is f, a, r, or c. Default is angle mode (a).\n"
    "-c <comm port> where the default is COM1 (1)\n"
    "-b <baud rate> where the default is 38400 (38400)\n"
    "-t <dt> sets dt time between counts for time output (default prints counts)\n"
    "-f <sec> sets the time output data rate, default is full rate(0)\n"
    "-d <output sample decimation rate> where the default is full rate(0)\n"
    "-D replaces counts output and dt output with DOS time\n"
    "   The -t option requires the user know the delta-t between samples\n"
    "   The -f option requires the -t option set, otherwise will use 0\n"
    "   The -D option should be used with -d option (inaccurate at full rate)\n";

// Column names of the display line: angle mode, and every other mode.
constexpr const char* angle_header =
    "   ROLL   PITCH     YAW   GYROX   GYROY   GYROZ  ACCELX  ACCELY  ACCELZ  MAGX   MAGY   MAGZ  TEMP\n";
constexpr const char* sensor_header =
    "   GYROX   GYROY   GYROZ   ACCELX  ACCELY  ACCELZ  MAGX    MAGY    MAGZ  TEMP\n";
