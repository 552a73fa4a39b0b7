// A private device directory for the Linux platform tests: COM ports backed by ptys,
// odd nodes, and $TQ734_DEVICE_DIR pointing at it, so that no test touches /dev.
#pragma once
#include <string>
#include <vector>

struct FakePty {
    int master = -1;
    int keeper = -1;  // the slave held open, so the line does not hang up between opens
    std::string slave_path;
};

// Makes a fresh directory and points TQ734_DEVICE_DIR at it.
std::string make_device_dir();
// Removes the directory and everything in it.
void remove_device_dir(const std::string& dir);
// A raw pty (the simulator's settings: 115,200 8N1); false when none can be had.
bool pty_open(FakePty* pty);
// Closes both ends: the other side sees a hung-up line.
void pty_close(FakePty* pty);
// Points dir/name at target, replacing what was there.
void link_node(const std::string& dir, const std::string& name, const std::string& target);
// Everything that arrives on the master until it has been quiet for quiet_ms.
std::vector<unsigned char> pty_take(const FakePty& pty, unsigned quiet_ms);
// Writes all bytes to the master.
bool pty_send(const FakePty& pty, const std::vector<unsigned char>& bytes);
