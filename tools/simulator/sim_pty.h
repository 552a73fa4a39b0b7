// The pseudo-terminal the simulator plays the device on, and the optional link to it.
#pragma once
#include <string>

struct SimPty {
    int master;          // the device's end, non-blocking
    int slave_keeper;    // a slave descriptor held open so the master never sees a hangup
    std::string slave_path;
};

// Opens a raw pty (115,200 8N1, no echo). False, with a message, on failure.
bool pty_open(SimPty* pty);
// Points link_path at the slave, replacing an existing symlink (never a file or directory).
bool pty_create_link(const SimPty& pty, const std::string& link_path);
// Removes the link if it still points at our slave.
void pty_remove_link(const SimPty& pty, const std::string& link_path);
// Closes both descriptors.
void pty_close(SimPty* pty);
