// Option parsing and --help for the simulator.
#include "sim_options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

SimOptions sim_options;

static const char HELP_TEXT[] =
    "Usage: tq734_sim [options]\n"
    "Plays a TQ734 device (CPU2 firmware loader) on a pseudo-terminal it opens itself.\n"
    "Once the line can be used it prints 'READY <slave path>' as its first stdout line.\n"
    "\n"
    "Where:\n"
    "  --link PATH              create a symlink PATH -> slave (e.g. $WINEPREFIX/dosdevices/com7);\n"
    "                           an existing symlink there is replaced; removed on exit\n"
    "  --ready-file PATH        also write the READY line to PATH (written whole, atomically)\n"
    "  --report PATH            write the report (one event per line, summary at the end) to PATH;\n"
    "                           without it only the summary goes to stderr\n"
    "  --image PATH             image to compare the received blocks with (314,912 bytes)\n"
    "                           default: " TQ_SIM_DEFAULT_IMAGE "\n"
    "  --verbose                echo every report line to stderr as well\n"
    "  --progress               print 'PROGRESS n/1231' on stdout every 100 new blocks\n"
    "\n"
    "Device answers:\n"
    "  --tag XY                 device tag of the identification reply \"ID\"XY (default TQ)\n"
    "  --version M.m            version reply fields, major 0..255, minor 0..65535 (default 2.385)\n"
    "  --no-version-fields      version reply is 54 51 01 only\n"
    "  --result N               result code of the finish reply, 0..255 (default 0 = success)\n"
    "\n"
    "Misbehaviour (fractions P are 0..1, drawn from a PRNG seeded by --seed):\n"
    "  --silent-from-block K    once a block with index >= K arrives, never reply to anything again\n"
    "  --stop-reading-at-block K  when block K first arrives, acknowledge it and never read the\n"
    "                           line again, but acknowledge the next 80 blocks unread, 10 ms\n"
    "                           apart, so that the updater's writes fill the line within a\n"
    "                           second or two (a device whose USB port hung fills it with\n"
    "                           retransmissions, in about a minute); then say nothing\n"
    "  --drop-acks P            drop this fraction of block acknowledgements\n"
    "  --corrupt P              flip one byte in this fraction of replies (the CRC then fails)\n"
    "  --duplicate-acks P       send this fraction of block acknowledgements twice\n"
    "  --split                  write replies one byte per write, with gaps between writes\n"
    "  --split-gap-ms N         gap between the single-byte writes of --split (default 2)\n"
    "  --noise P                before this fraction of replies, write 1..12 random bytes\n"
    "                           (never ending in the escape byte 0x65, so the frame survives)\n"
    "  --delay-ms D             wait D ms before each reply (default 0)\n"
    "  --finish-after-block K   right after acknowledging block K (first time), also send the\n"
    "                           finish reply with the --result code, without a finish request\n"
    "  --unplug-at-block K      when block K first arrives, drop it unacknowledged, close the pty\n"
    "                           and remove the link, as a pulled USB adapter does; after\n"
    "  --unplug-seconds S       ... S seconds (default 3) open a new pty under the same link,\n"
    "                           keeping every block received and the block expected;\n"
    "                           --unplug-at-block may be given several times\n"
    "  --unsolicited-id XY      send one identification reply \"ID\"XY unasked ...\n"
    "  --unsolicited-after-block K  ... right after block K is acknowledged (default 0)\n"
    "  --wire-time              emulate 115,200 baud 8N1: each byte takes 10/115200 s in each\n"
    "                           direction; a reply starts only after the request's last byte has\n"
    "                           crossed the line, and its bytes are paced while written\n"
    "  --seed S                 PRNG seed (default 1)\n"
    "\n"
    "Arrival and removal (a production station's fixture):\n"
    "  --arrive-after-ms N      say nothing until N ms after start, as a device not yet connected\n"
    "  --restart-silence-ms N   after the final command say nothing for N ms, as a device that\n"
    "                           restarts, then answer again with the version of --new-version\n"
    "                           (needs --keep-running)\n"
    "  --new-version M.m        the version after that restart (default 2.385)\n"
    "  --remove-after-final     at the final command close the pty and remove the link, as a\n"
    "                           device with its own USB port that is unplugged; with\n"
    "                           --keep-running the simulator stays until timeout or signal\n"
    "\n"
    "Lifecycle:\n"
    "  --exit-on-final          (default) exit --linger-ms after the final command 54 51 04 AA\n"
    "  --keep-running           do not exit on the final command; only on timeout or signal\n"
    "  --linger-ms N            time to keep answering after the final command (default 500)\n"
    "  --timeout-s N            exit after N seconds in any case (default 600)\n"
    "  SIGTERM, SIGINT, SIGHUP  exit at once\n"
    "  On every exit the report is completed and the link removed.\n"
    "\n"
    "  --help                   this text\n"
    "\n"
    "Report (--report): one event per line, 't=<ms since start> <event>': 'rx identify request',\n"
    "'rx version request', 'rx block N', 'rx block N retransmission interval=<ms>ms',\n"
    "'rx finish length=L', 'rx final command', 'rx bad CRC', 'rx garbage', 'rx unknown message',\n"
    "'tx <reply>' when a reply starts going out, and the misbehaviour taken ('drop ack N',\n"
    "'silent: ...', 'stopped reading at block K', 'tx noise ...', '... corrupted ...', 'unplugged at block K', 'plugged back on P').\n"
    "Then the summary: 'summary blocks_received= highest_block= retransmissions= bad_frames=\n"
    "finish_requests= block_writes=', 'finish length: L',\n"
    "'final command: yes|no', and 'image: identical' | 'image: differs at offset X' |\n"
    "'image: incomplete ...' | 'image: differs in the tail padding' (the received blocks\n"
    "against --image; the tail block's 224 padding bytes must be zero).\n"
    "\n"
    "Exit status: 0 after the final command, a timeout or a signal, whatever the update's\n"
    "outcome (read the report for that); 1 when the pty, link, image or report cannot be set\n"
    "up; 2 for a bad command line.\n";

void print_help()
{
    fputs(HELP_TEXT, stdout);
}

// Sets the defaults before parsing.
static void set_defaults()
{
    SimOptions& o = sim_options;
    o.image_path = TQ_SIM_DEFAULT_IMAGE;
    o.tag[0] = 'T';
    o.tag[1] = 'Q';
    o.version_major = 2;
    o.version_minor = 385;
    o.version_fields = true;
    o.result = 0;
    o.silent_from_block = -1;
    o.stop_reading_at_block = -1;
    o.drop_acks = 0;
    o.corrupt = 0;
    o.duplicate_acks = 0;
    o.noise = 0;
    o.seed = 1;
    o.split = false;
    o.split_gap_ms = 2;
    o.delay_ms = 0;
    o.finish_after_block = -1;
    o.unplug_seconds = 3;
    o.unsolicited = false;
    o.unsolicited_tag[0] = 0;
    o.unsolicited_tag[1] = 0;
    o.unsolicited_after_block = 0;
    o.wire_time = false;
    o.linger_ms = 500;
    o.timeout_s = 600;
    o.exit_on_final = true;
    o.arrive_after_ms = 0;
    o.restart_silence_ms = -1;
    o.new_version_major = 2;
    o.new_version_minor = 385;
    o.remove_after_final = false;
    o.verbose = false;
    o.progress = false;
}

// Whole-string integer in [low, high].
static bool parse_long(const char* text, long low, long high, long* out)
{
    char* end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (errno || end == text || *end || v < low || v > high)
        return false;
    *out = v;
    return true;
}

// Whole-string fraction in [0, 1].
static bool parse_fraction(const char* text, double* out)
{
    char* end = nullptr;
    errno = 0;
    double v = strtod(text, &end);
    if (errno || end == text || *end || !(v >= 0 && v <= 1))
        return false;
    *out = v;
    return true;
}

// Exactly two characters.
static bool parse_tag(const char* text, uint8_t* out)
{
    if (strlen(text) != 2)
        return false;
    out[0] = uint8_t(text[0]);
    out[1] = uint8_t(text[1]);
    return true;
}

// "M.m" with M in 0..255 and m in 0..65535.
static bool parse_version(const char* text, uint8_t* major, uint16_t* minor)
{
    const char* dot = strchr(text, '.');
    if (!dot)
        return false;
    std::string left(text, dot);
    long ma, mi;
    if (!parse_long(left.c_str(), 0, 255, &ma) || !parse_long(dot + 1, 0, 65535, &mi))
        return false;
    *major = uint8_t(ma);
    *minor = uint16_t(mi);
    return true;
}

// Reports a bad value and gives PARSE_ERROR.
static ParseOutcome bad_value(const char* option, const char* value)
{
    fprintf(stderr, "tq734_sim: bad value '%s' for %s (see --help)\n", value, option);
    return PARSE_ERROR;
}

ParseOutcome parse_options(int argc, char** argv)
{
    set_defaults();
    SimOptions& o = sim_options;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        // Flags without a value.
        if (!strcmp(a, "--help") || !strcmp(a, "-h"))
            return PARSE_HELP;
        if (!strcmp(a, "--no-version-fields")) { o.version_fields = false; continue; }
        if (!strcmp(a, "--split")) { o.split = true; continue; }
        if (!strcmp(a, "--wire-time")) { o.wire_time = true; continue; }
        if (!strcmp(a, "--exit-on-final")) { o.exit_on_final = true; continue; }
        if (!strcmp(a, "--keep-running")) { o.exit_on_final = false; continue; }
        if (!strcmp(a, "--verbose")) { o.verbose = true; continue; }
        if (!strcmp(a, "--progress")) { o.progress = true; continue; }
        if (!strcmp(a, "--remove-after-final")) { o.remove_after_final = true; continue; }

        static const char* const with_value[] = {
            "--link", "--ready-file", "--report", "--image", "--tag", "--version", "--result",
            "--silent-from-block", "--stop-reading-at-block", "--drop-acks", "--corrupt", "--duplicate-acks", "--noise",
            "--seed", "--split-gap-ms", "--delay-ms", "--finish-after-block", "--unplug-at-block",
            "--unplug-seconds", "--unsolicited-id",
            "--unsolicited-after-block", "--linger-ms", "--timeout-s", "--arrive-after-ms",
            "--restart-silence-ms", "--new-version",
        };
        bool known = false;
        for (const char* name : with_value)
            known = known || !strcmp(a, name);
        if (!known) {
            fprintf(stderr, "tq734_sim: unknown option '%s' (see --help)\n", a);
            return PARSE_ERROR;
        }
        if (i + 1 >= argc) {
            fprintf(stderr, "tq734_sim: %s needs a value (see --help)\n", a);
            return PARSE_ERROR;
        }
        const char* v = argv[++i];
        long n = 0;
        bool ok = true;
        if (!strcmp(a, "--link")) o.link_path = v;
        else if (!strcmp(a, "--ready-file")) o.ready_file = v;
        else if (!strcmp(a, "--report")) o.report_path = v;
        else if (!strcmp(a, "--image")) o.image_path = v;
        else if (!strcmp(a, "--tag")) ok = parse_tag(v, o.tag);
        else if (!strcmp(a, "--version")) ok = parse_version(v, &o.version_major, &o.version_minor);
        else if (!strcmp(a, "--result")) { ok = parse_long(v, 0, 255, &n); o.result = uint8_t(n); }
        else if (!strcmp(a, "--silent-from-block")) ok = parse_long(v, 0, 65535, &o.silent_from_block);
        else if (!strcmp(a, "--stop-reading-at-block")) ok = parse_long(v, 0, 65535, &o.stop_reading_at_block);
        else if (!strcmp(a, "--drop-acks")) ok = parse_fraction(v, &o.drop_acks);
        else if (!strcmp(a, "--corrupt")) ok = parse_fraction(v, &o.corrupt);
        else if (!strcmp(a, "--duplicate-acks")) ok = parse_fraction(v, &o.duplicate_acks);
        else if (!strcmp(a, "--noise")) ok = parse_fraction(v, &o.noise);
        else if (!strcmp(a, "--seed")) { ok = parse_long(v, 0, 0x7FFFFFFF, &n); o.seed = uint64_t(n); }
        else if (!strcmp(a, "--split-gap-ms")) { ok = parse_long(v, 0, 10000, &n); o.split_gap_ms = int(n); }
        else if (!strcmp(a, "--delay-ms")) { ok = parse_long(v, 0, 600000, &n); o.delay_ms = int(n); }
        else if (!strcmp(a, "--finish-after-block")) ok = parse_long(v, 0, 65535, &o.finish_after_block);
        else if (!strcmp(a, "--unplug-at-block")) { ok = parse_long(v, 0, 65535, &n); o.unplug_at_blocks.push_back(n); }
        else if (!strcmp(a, "--unplug-seconds")) { ok = parse_long(v, 0, 3600, &n); o.unplug_seconds = int(n); }
        else if (!strcmp(a, "--unsolicited-id")) { ok = parse_tag(v, o.unsolicited_tag); o.unsolicited = ok; }
        else if (!strcmp(a, "--unsolicited-after-block")) ok = parse_long(v, 0, 65535, &o.unsolicited_after_block);
        else if (!strcmp(a, "--linger-ms")) { ok = parse_long(v, 0, 600000, &n); o.linger_ms = int(n); }
        else if (!strcmp(a, "--timeout-s")) { ok = parse_long(v, 1, 86400, &n); o.timeout_s = int(n); }
        else if (!strcmp(a, "--arrive-after-ms")) { ok = parse_long(v, 0, 86400000, &n); o.arrive_after_ms = int(n); }
        else if (!strcmp(a, "--restart-silence-ms")) { ok = parse_long(v, 0, 86400000, &n); o.restart_silence_ms = int(n); }
        else if (!strcmp(a, "--new-version")) ok = parse_version(v, &o.new_version_major, &o.new_version_minor);
        if (!ok)
            return bad_value(a, v);
    }
    return PARSE_RUN;
}
