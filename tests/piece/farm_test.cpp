// The render farm: drafts of the first eight seconds rendered as ranges by
// GNU parallel, on local job slots with one job killed half way, and through
// an SSH server of the test's own on the loopback address, joined into films
// that hold what one process renders.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/media.h"
#include "common/test_files.h"
#include "common/whole_program.h"

namespace {

const std::string kFarm = ZEAL_SOURCE_DIR "/tools/render-farm.sh";
const std::string kPiece = ZEAL_BINARY_DIR "/vv-plume";
constexpr int kFrames = 240;

// The film a farm run made holds the reference rendering's frames and sound.
void expect_holds_reference(const std::string& film, const std::string& reference, int frames) {
  EXPECT_EQ(ends(film).at(0), std::lround(frames * 1000.0 / 30.0));
  for (int n : {0, 59, 60, 119, 120, 200}) {
    if (n >= frames) continue;
    EXPECT_GT(psnr(luma(film, n), luma(frame_name(reference, "vv-plume-draft", n))), 40.0) << "frame " << n;
  }
  std::vector<float> heard = decoded_sound(film), written = decoded_sound(reference + "/vv-plume-draft.wav");
  for (int join : {120, 180}) {  // where sound plays
    if (join >= frames) continue;
    // Over 0.1 s around the join: a click or a gap there would break it.
    EXPECT_GT(likeness(heard, written, 2 * (join * 1470 - 2205), 2 * (join * 1470 + 2205)), 0.99) << "join " << join;
  }
}

int free_port() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

// An SSH server on 127.0.0.1 that lets this user in with a key of its own.
struct LoopbackSsh {
  TempDir dir;
  Program server;
  int port = free_port();
  std::string client;  // the ssh command that reaches it
  bool start() {
    std::string keys = "ssh-keygen -q -N '' -t ed25519 -f " + dir.File("host") + " && ssh-keygen -q -N '' -t ed25519 -f " +
                       dir.File("user") + " && cp " + dir.File("user.pub") + " " + dir.File("authorized") +
                       " && mkdir -p /run/sshd";
    if (system(keys.c_str()) != 0) return false;
    dir.Write("sshd_config", "Port " + std::to_string(port) + "\nListenAddress 127.0.0.1\nHostKey " +
                                 dir.File("host") + "\nAuthorizedKeysFile " + dir.File("authorized") +
                                 "\nPidFile " + dir.File("pid") + "\nStrictModes no\nUsePAM no\n");
    if (!server.start({"/usr/sbin/sshd", "-D", "-e", "-f", dir.File("sshd_config")}, {}, true)) return false;
    client = "ssh -p " + std::to_string(port) + " -i " + dir.File("user") +
             " -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o BatchMode=yes -o LogLevel=ERROR";
    for (int i = 0; i < 50; ++i, inthread_sleep(100))
      if (system((client + " 127.0.0.1 true").c_str()) == 0) return true;
    return false;
  }
};

}  // namespace

TEST(Farm, RangesOnLocalSlotsAndOverSshMakeTheFilmOneProcessMakes) {
  TempDir reference, local, remote;
  Program piece;
  ASSERT_TRUE(piece.start({kPiece, "--no-configurator", "--draft", "--diskwriter", reference.path, "--range",
                           "0:" + std::to_string(kFrames)}));
  ASSERT_EQ(piece.wait_exit(600000), 0) << piece.output;

  // Two local slots; the job of frames 60 to 119 is killed once, half way.
  Program farm;
  const std::string program = "ZEAL_PROGRAM=" + kPiece;
  ASSERT_TRUE(farm.start({kFarm, "-j", "2", "--draft", "--frames", std::to_string(kFrames), "--chunk", "60",
                          local.path}, {program}, true));
  bool killed = false;
  for (double end = get_milliseconds() + 120000; !killed && farm.running() && get_milliseconds() < end; farm.read_for(50))
    // (The bracket keeps the pattern from matching the shell that runs it.)
    killed = system("pkill -KILL -f -- '--range 6[0]:120'") == 0;
  EXPECT_TRUE(killed);
  ASSERT_EQ(farm.wait_exit(600000), 0) << farm.output;
  // The farm makes no film while a range is missing: the killed one ran again.
  expect_holds_reference(local.File("vv-plume-draft.mp4"), reference.path, kFrames);

  // One range on another machine, reached through ssh.
  LoopbackSsh ssh;
  ASSERT_TRUE(ssh.start()) << ssh.server.output;
  ASSERT_TRUE(farm.start({kFarm, "--sshlogin", "1/" + std::string(getenv("USER") ? getenv("USER") : "root") + "@127.0.0.1",
                          "--draft", "--frames", "60", "--chunk", "60", remote.path},
                         {program, "PARALLEL_SSH=" + ssh.client}, true));
  ASSERT_EQ(farm.wait_exit(600000), 0) << farm.output;
  EXPECT_NE(remote.Read("parts/jobs.log").find("127.0.0.1"), std::string::npos);
  expect_holds_reference(remote.File("vv-plume-draft.mp4"), reference.path, 60);
}
