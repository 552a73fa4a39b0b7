// Stands in for tq734-updater.exe under the station on Windows (Wine), as fake_updater.sh
// does on Linux: logs what TQ734_FAKE_PLAN says for its port and ends as the plan says.
//   TQ734_FAKE_PLAN="COM21=ok COM22=error ..."   plans: wait absent ok updating error wrong
//                                                  uptodate crash finishing
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

char port[16] = "-";

void say(const char* text)
{
    std::printf("2026-12-09T12:00:00.000+03:00 %s %s\n", port, text);
    std::fflush(stdout);
}

void progress(int upto)
{
    for (int i = 1; i <= 10 && i * 10 <= upto; ++i) {
        char line[96];
        std::snprintf(line, sizeof line, "progress percent=%d blocks=%d of=1231", i * 10, i * 1231 / 10);
        say(line);
        Sleep(50);
    }
}

void device(const char* version)
{
    say("port state=open");
    Sleep(300);
    say("device id=TQ tq734=yes");
    char line[64];
    std::snprintf(line, sizeof line, "device version=%s", version);
    say(line);
}

[[noreturn]] void forever()
{
    for (;;)
        Sleep(1000);
}

}  // namespace

int main(int argc, char** argv)
{
    bool removal = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-p") == 0 && i + 1 < argc)
            std::snprintf(port, sizeof port, "%s", argv[++i]);
        else if (std::strcmp(argv[i], "-g") == 0)
            removal = true;
    }
    say("start version=1.0.0");
    if (removal) {
        say("port state=open");
        forever();
    }
    char plan[32] = "wait";
    const char* plans = std::getenv("TQ734_FAKE_PLAN");
    size_t n = std::strlen(port);
    for (const char* p = plans; p && (p = std::strstr(p, port)) != nullptr; p += n)
        if ((p == plans || p[-1] == ' ') && p[n] == '=') {
            std::sscanf(p + n + 1, "%31s", plan);
            break;
        }
    if (!std::strcmp(plan, "absent")) {
        say("port state=unusable");
        forever();
    }
    if (!std::strcmp(plan, "wrong")) {
        say("port state=open");
        Sleep(300);
        say("device id=XY tq734=no");
        say("record written=yes");
        say("exit code=126 seconds=1");
        return 126;
    }
    if (std::strcmp(plan, "wait") == 0) {
        say("port state=open");
        forever();
    }
    device(std::strcmp(plan, "uptodate") == 0 ? "2.385" : "2.384");
    if (!std::strcmp(plan, "uptodate")) {
        say("up_to_date version=2.385");
        say("record written=yes");
        say("exit code=0 seconds=1");
        return 0;
    }
    if (!std::strcmp(plan, "updating")) {
        progress(40);
        say("info text=\"Нет ответа\"");
        forever();
    }
    if (!std::strcmp(plan, "crash")) {
        progress(20);
        // Ends as a crash ends (an access violation's status); a real fault would start
        // Wine's debugger, which waits.
        TerminateProcess(GetCurrentProcess(), 0xC0000005);
    }
    progress(!std::strcmp(plan, "error") ? 30 : 100);
    if (!std::strcmp(plan, "finishing")) {
        say("status text=\"Обновление\"");
        forever();
    }
    if (!std::strcmp(plan, "error")) {
        say("result code=4 text=\"Ошибка при записи во флеш-память\"");
        say("final_command sent");
        say("record written=yes");
        say("exit code=4 seconds=2");
        return 4;
    }
    say("status text=\"Обновление\"");
    say("result code=0 text=\"Обновление ПО произведено успешно.\"");
    say("final_command sent");
    say("record written=yes");
    say("exit code=0 seconds=2");
    return 0;
}
