#include "device_record.h"

namespace {

// The line being written; once it would overrun, it is abandoned rather than cut.
struct Out {
    char* at;
    unsigned length, capacity;
    bool overflow;
};

void put(Out& o, char c)
{
    if (o.length + 1 > o.capacity) {
        o.overflow = true;
        return;
    }
    o.at[o.length++] = c;
}

void put_text(Out& o, const char* text)
{
    for (; *text; ++text)
        put(o, *text);
}

// Zero-padded decimal of at least the given width.
void put_number(Out& o, uint32_t v, unsigned width = 1)
{
    char digits[12];
    unsigned count = 0;
    do {
        digits[count++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    while (count < width && count < sizeof digits)
        digits[count++] = '0';
    while (count)
        put(o, digits[--count]);
}

const char HEX[] = "0123456789abcdef";

void put_escaped_unit(Out& o, uint32_t c)
{
    put_text(o, "\\u");
    for (int shift = 12; shift >= 0; shift -= 4)
        put(o, HEX[c >> shift & 0xF]);
}

// Length of the well-formed UTF-8 sequence at p (1..4), or 0 when it is not one.
unsigned utf8_sequence(const unsigned char* p, const unsigned char* end)
{
    unsigned char b = p[0];
    unsigned n;
    uint32_t c, min;
    if (b < 0x80)
        return 1;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2, c = b & 0x1Fu, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3, c = b & 0x0Fu, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4, c = b & 0x07u, min = 0x10000;
    } else {
        return 0;
    }
    if (end - p < static_cast<long>(n))
        return 0;
    for (unsigned i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        c = c << 6 | (p[i] & 0x3Fu);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    if (c < min || (c >= 0xD800 && c < 0xE000) || c > 0x10FFFF)
        return 0;
    return n;
}

// A JSON string of the given bytes: quotes, backslashes and control bytes escaped, each byte
// that does not belong to well-formed UTF-8 replaced by U+FFFD.
void put_string_bytes(Out& o, const unsigned char* p, unsigned count)
{
    const unsigned char* end = p + count;
    put(o, '"');
    while (p < end) {
        unsigned char b = *p;
        unsigned n = utf8_sequence(p, end);
        if (n == 0) {
            put_escaped_unit(o, 0xFFFD);
            ++p;
        } else if (n > 1) {
            for (unsigned i = 0; i < n; ++i)
                put(o, static_cast<char>(p[i]));
            p += n;
        } else {
            switch (b) {
            case '"': put_text(o, "\\\""); break;
            case '\\': put_text(o, "\\\\"); break;
            case '\n': put_text(o, "\\n"); break;
            case '\r': put_text(o, "\\r"); break;
            case '\t': put_text(o, "\\t"); break;
            default:
                if (b < 0x20 || b == 0x7F)
                    put_escaped_unit(o, b);
                else
                    put(o, static_cast<char>(b));
            }
            ++p;
        }
    }
    put(o, '"');
}

// A zero-terminated string read no further than its array.
void put_string(Out& o, const char* text, unsigned capacity)
{
    unsigned n = 0;
    while (n < capacity && text[n])
        ++n;
    put_string_bytes(o, reinterpret_cast<const unsigned char*>(text), n);
}

// An empty string is null.
void put_string_or_null(Out& o, const char* text, unsigned capacity)
{
    if (text[0] == 0)
        put_text(o, "null");
    else
        put_string(o, text, capacity);
}

void put_key(Out& o, const char* key)
{
    if (o.at[o.length - 1] != '{')
        put(o, ',');
    put(o, '"');
    put_text(o, key);
    put_text(o, "\":");
}

void put_time(Out& o, const LocalTime& t)
{
    char text[40];
    unsigned n = format_record_time(t, text, sizeof text);
    put(o, '"');
    for (unsigned i = 0; i < n; ++i)
        put(o, text[i]);
    put(o, '"');
}

}  // namespace

const char* record_result_word(RecordResult result)
{
    switch (result) {
    case RecordResult::Ok: return "ok";
    case RecordResult::UpToDate: return "up_to_date";
    case RecordResult::DeviceError: return "device_error";
    case RecordResult::NotTq734: return "not_tq734";
    case RecordResult::NoAnswer: return "no_answer";
    case RecordResult::PortUnusable: return "port_unusable";
    case RecordResult::Interrupted: return "interrupted";
    case RecordResult::Crashed: return "crashed";
    }
    return "crashed";
}

unsigned format_record_time(const LocalTime& t, char* out, unsigned capacity)
{
    Out o = {out, 0, capacity, false};
    // Fields out of range (a broken clock) must not widen the form.
    auto field = [&o](int v, unsigned width, int max) { put_number(o, uint32_t(v < 0 ? 0 : v > max ? max : v), width); };
    field(t.year, 4, 9999);
    put(o, '-');
    field(t.month, 2, 99);
    put(o, '-');
    field(t.day, 2, 99);
    put(o, 'T');
    field(t.hour, 2, 99);
    put(o, ':');
    field(t.minute, 2, 99);
    put(o, ':');
    field(t.second, 2, 99);
    put(o, '.');
    field(t.millisecond, 3, 999);
    int offset = t.offset_minutes;
    put(o, offset < 0 ? '-' : '+');
    if (offset < 0)
        offset = -offset;
    field(offset / 60, 2, 99);
    put(o, ':');
    field(offset % 60, 2, 59);
    return o.overflow ? 0 : o.length;
}

unsigned format_device_record(const DeviceRecord& r, char* out, unsigned capacity)
{
    Out o = {out, 0, capacity, false};
    put(o, '{');
    if (o.overflow)
        return 0;
    put_key(o, "start");
    put_time(o, r.start);
    put_key(o, "end");
    put_time(o, r.end);
    put_key(o, "host");
    put_string(o, r.host, sizeof r.host);
    put_key(o, "port");
    if (r.port) {
        put_text(o, "\"COM");
        put_number(o, r.port);
        put(o, '"');
    } else {
        put_text(o, "null");
    }
    put_key(o, "station");
    put_string_or_null(o, r.station, sizeof r.station);
    put_key(o, "updater");
    put_string(o, r.updater, sizeof r.updater);

    put_key(o, "firmware");
    put(o, '{');
    put_key(o, "type");
    put_string_or_null(o, r.firmware_type, sizeof r.firmware_type);
    put_key(o, "crc");
    if (r.firmware_crc_known) {
        put_text(o, "\"0x");
        for (int shift = 28; shift >= 0; shift -= 4)
            put(o, "0123456789ABCDEF"[r.firmware_crc >> shift & 0xF]);
        put(o, '"');
    } else {
        put_text(o, "null");
    }
    put_key(o, "sha256");
    put_string(o, r.firmware_sha256, sizeof r.firmware_sha256);
    put_key(o, "size");
    put_number(o, r.firmware_size);
    put(o, '}');

    put_key(o, "device");
    put(o, '{');
    put_key(o, "id");
    if (r.device_id_known)
        put_string_bytes(o, r.device_id, 2);
    else
        put_text(o, "null");
    put_key(o, "version_before");
    switch (r.version_before) {
    case RecordVersion::Unknown: put_text(o, "null"); break;
    case RecordVersion::None: put_text(o, "\"none\""); break;
    case RecordVersion::Given:
        put(o, '"');
        put_number(o, r.version_major);
        put(o, '.');
        put_number(o, r.version_minor);
        put(o, '"');
        break;
    }
    put(o, '}');

    put_key(o, "result");
    put(o, '"');
    put_text(o, record_result_word(r.result));
    put(o, '"');
    put_key(o, "code");
    if (r.code_known)
        put_number(o, r.code);
    else
        put_text(o, "null");
    put_key(o, "text");
    put_string_or_null(o, r.text, sizeof r.text);
    put_key(o, "exit");
    if (r.exit_known)
        put_number(o, r.exit_code);
    else
        put_text(o, "null");
    put_key(o, "seconds");
    put_number(o, r.milliseconds / 1000u);
    put(o, '.');
    put_number(o, r.milliseconds % 1000u, 3);
    put_key(o, "blocks");
    put_number(o, r.blocks);
    put_key(o, "resends");
    put_number(o, r.resends);
    put_key(o, "final_command");
    put_text(o, r.final_command ? "true" : "false");
    put_key(o, "operator");
    put_string_or_null(o, r.operator_name, sizeof r.operator_name);
    put(o, '}');
    put(o, '\n');
    return o.overflow ? 0 : o.length;
}
