// pty_peer.h - the printer's end of a pseudo-terminal linked under a port name.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace test_support
{

class PtyPeer
{
  public:
    // Creates the pair and links the slave at link_path (parents created). With
    // raw set, the slave is made raw with VMIN 0 / VTIME 1, as a printer-class
    // node behaves; otherwise the line keeps the pty's cooked defaults and the
    // host has to set it up.
    PtyPeer(const std::string& link_path, bool raw);
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool ok() const { return master_ >= 0; }
    const std::string& port_name() const { return link_; }
    int slave_fd() const { return slave_; }

    // The printer sends bytes to the host.
    void send(const std::vector<unsigned char>& bytes);
    // Bytes the host wrote, waiting until n have arrived or timeout_ms passed.
    std::vector<unsigned char> receive(std::size_t n, int timeout_ms);

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string link_;
};

// Makes a terminal line raw; with timed_reads a read also returns after 0.1 s without bytes
// (VMIN 0, VTIME 1), as a printer-class node behaves.
void make_raw(int fd, bool timed_reads);

} // namespace test_support
