// Every text the program shows on the console: the start-up texts, then the
// messages in the order README's "When things go wrong" lists them. The
// functions that print name one of these; none spells a text of its own.
// Each is printed exactly as written here: the odd spellings, the double
// blank and the "/n" are the program's own and are kept.
#pragma once

#include "imutap_version.h"

namespace imutap {

// Start-up: the banner, the help and the column names of the display line
// (angle mode, and every other mode).
inline constexpr char banner_text[] = "AHRS Inertial Unit data reading " IMUTAP_VERSION "\n";

inline constexpr char help_text[] =
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

// Each header on one line, as it shows.
// clang-format off
inline constexpr char angle_header[] =
    "   ROLL   PITCH     YAW   GYROX   GYROY   GYROZ  ACCELX  ACCELY  ACCELZ  MAGX   MAGY   MAGZ  TEMP\n";
inline constexpr char sensor_header[] =
    "   GYROX   GYROY   GYROZ   ACCELX  ACCELY  ACCELZ  MAGX    MAGY    MAGZ  TEMP\n";
// clang-format on

// Refused at start-up. The hint follows some refusals; its line end is
// written by a call of its own.
inline constexpr char refusal_hint[] = "type imutap without any parameters for help";
inline constexpr char refusal_hint_end[] = "\n";
inline constexpr char unknown_argument_whole[] = "unknown argument: %s\n";
inline constexpr char unknown_argument_letter[] = "unknown argument: -%c\n";
inline constexpr char option_needs_value[] = "option -%c needs a value\n";
inline constexpr char decimation_below_one[] = "decimation must be at least 1 (-d %d)\n";
inline constexpr char mode_never_acknowledged[] =
    "mode letter 0x%02x cannot be acknowledged by the unit (-m)\n";
inline constexpr char mode_is_command[] =
    "mode letter %c is a command of the unit, not a mode (-m)\n";
inline constexpr char dt_out_of_range[] = "value out of range: -t %s\n";
inline constexpr char period_out_of_range[] = "value out of range: -f %s\n";
inline constexpr char period_without_dt[] =
    "-f %s needs a dt above 0: with -t %s no line would ever be written\n";
inline constexpr char log_file_cannot_create[] = "could not create log file %s: %s\n";
inline constexpr char log_file_in_use[] = "log file %s is in use by another imutap\n";
inline constexpr char log_file_is_port[] = "log file %s is the serial port\n";
inline constexpr char log_file_is_output[] = "log file %s is standard output\n";
// A named pipe as the log, before any reader has it open.
inline constexpr char log_file_waiting_for_reader[] = "waiting for a reader of log file %s\n";

// Port set-up, one for each step, with the system's error number.
inline constexpr char port_cannot_open[] = "could not open serial port, %d\n";
inline constexpr char port_queues_failed[] = "error setting up comm: %d\n";
inline constexpr char port_get_line_failed[] = "error getting comm: %d\n";
inline constexpr char port_set_line_failed[] = "error setting comm: %d\n";
inline constexpr char port_get_timing_failed[] = "error getting comm timeouts:%d/n";
inline constexpr char port_set_timing_failed[] = "error setting comm timeouts:%d\n";

// Packets: a mode without a layout, a wrong length (scaled mode's with two
// blanks before the expected length), and the leads of a packet's dump,
// which goes on with its bytes as "%x " and a line end.
inline constexpr char packet_no_layout[] = "\nunrecognized packet type: %c";
inline constexpr char packet_wrong_length[] = "packet size incorrect: %d should be %d for AHRS\n";
inline constexpr char packet_wrong_length_scaled[] =
    "packet size incorrect: %d should be  %d for AHRS\n";
inline constexpr char packet_bad_header_and_sum[] = "\nunrecognized header byte: \nbad checksum:";
inline constexpr char packet_bad_header[] = "\nunrecognized header byte: ";
inline constexpr char packet_bad_sum[] = "\nbad checksum:";
inline constexpr char packet_dump_byte[] = "%x ";

// The unit and the cable. The notes about the unit are said once, not once
// a second: the run says them through say_once (run/findings.h).
inline constexpr char unit_silent[] = "AHRS silent for %g s; initialising it again\n";
inline constexpr char unit_keeps_sending[] =
    "AHRS does not stop sending on P; starting the exchange again\n";
inline constexpr char unit_no_acknowledgement[] =
    "AHRS does not acknowledge mode %c; starting the exchange again\n";
inline constexpr char port_lost[] = "serial port lost; waiting for it to come back\n";
inline constexpr char port_back[] = "serial port back; initialising AHRS\n";

// The log file, while the run goes on.
inline constexpr char log_write_failed[] = "log file write failed: %s; lines are being lost\n";
inline constexpr char log_written_again[] = "log file written again; %llu lines lost so far\n";
inline constexpr char log_write_blocked[] =
    "log file write blocked for %lld s; lines are being lost\n";
inline constexpr char log_file_deleted[] = "log file %s was deleted; lines are being lost\n";

// The end: the port's on standard error, the others on standard output.
inline constexpr char port_cannot_close[] = "Port Closing isn't successed: %d\n";
inline constexpr char log_lines_lost[] = "%llu lines could not be written to the log file\n";
inline constexpr char log_cannot_close[] = "Error: Can't close the file\n";

// The console, once it takes output again.
inline constexpr char console_messages_lost[] = "console held up; %u messages not shown\n";

} // namespace imutap
