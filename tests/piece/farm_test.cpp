// The render farm: drafts of the first eight seconds rendered as ranges by
// GNU parallel, on local job slots with one job killed half way, and through
// an SSH server of the test's own on the loopback address, and as the job
// array of a one-node Slurm cluster of the test's own, joined into films that
// hold what one process renders.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
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

// Farms run where there is no X server: every render here draws through EGL.
const std::vector<std::string> kNoX = {"DISPLAY"};

void render_reference(const std::string& dir) {
  Program piece;
  ASSERT_TRUE(piece.start({kPiece, "--no-configurator", "--draft", "--diskwriter", dir, "--range",
                           "0:" + std::to_string(kFrames)}, kNoX));
  ASSERT_EQ(piece.wait_exit(600000), 0) << piece.output;
}

// Kills the render of the farm's range FROM:TO once it has drawn half its
// frames: the process with that range whose working directory is `parts`.
bool kill_half_way(Program& farm, const std::string& parts, int from, int to) {
  std::string half = frame_name(parts + "/range-" + std::to_string(from) + ".partial", "vv-plume-draft", (from + to) / 2);
  std::string range = std::string("--range\0", 8) + std::to_string(from) + ":" + std::to_string(to) + '\0';
  for (double end = get_milliseconds() + 300000; farm.running() && get_milliseconds() < end; farm.read_for(50)) {
    if (!std::filesystem::exists(half)) continue;
    std::error_code e;
    for (const auto& process : std::filesystem::directory_iterator("/proc", e))
      if (read_file(process.path() / "cmdline").find(range) != std::string::npos &&
          std::filesystem::read_symlink(process.path() / "cwd", e) == parts)
        return kill(std::stoi(process.path().filename()), SIGKILL) == 0;
  }
  return false;
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

// A one-node Slurm cluster of the test's own: munged, slurmctld and slurmd on
// ports of their own, their keys, state and logs in a scratch folder. Its
// jobs are cancelled and its daemons stopped when it goes out of scope.
struct SlurmCluster {
  TempDir dir;
  Program munge, controller, node;
  std::string conf = dir.File("slurm.conf");
  std::string env = "SLURM_CONF=" + conf;

  bool start() {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    std::string name(host, strcspn(host, "."));
    int controller_port = free_port(), node_port = free_port();
    while (node_port == controller_port) node_port = free_port();
    // munged wants every folder above its socket open to all.
    std::filesystem::permissions(dir.path, std::filesystem::perms::others_exec | std::filesystem::perms::group_exec,
                                 std::filesystem::perm_options::add);
    std::string key(1024, '\0');
    std::ifstream("/dev/urandom").read(key.data(), key.size());
    std::filesystem::permissions(dir.Write("munge.key", key), std::filesystem::perms::owner_read);
    std::filesystem::create_directories(dir.File("state"));
    std::filesystem::create_directories(dir.File("spool"));
    std::string config, at = dir.path + "/";
    for (const std::string& line : std::vector<std::string>
         {"ClusterName=zeal", "SlurmctldHost=" + name + "(127.0.0.1)", "SlurmctldPort=" + std::to_string(controller_port),
          "SlurmdPort=" + std::to_string(node_port), "SlurmUser=root", "AuthInfo=socket=" + at + "munge.socket",
          "StateSaveLocation=" + at + "state", "SlurmdSpoolDir=" + at + "spool",
          "SlurmctldLogFile=" + at + "slurmctld.log", "SlurmdLogFile=" + at + "slurmd.log",
          "SlurmctldPidFile=" + at + "slurmctld.pid", "SlurmdPidFile=" + at + "slurmd.pid",
          "ProctrackType=proctrack/linuxproc", "TaskPlugin=task/none", "MpiDefault=none",
          "SelectType=select/cons_tres", "SelectTypeParameters=CR_Core", "ReturnToService=2",
          "JobAcctGatherType=jobacct_gather/none", "AccountingStorageType=accounting_storage/none",
          "NodeName=" + name + " NodeAddr=127.0.0.1 CPUs=" + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)),
          "PartitionName=render Nodes=" + name + " Default=YES MaxTime=INFINITE State=UP"})
      config += line + "\n";
    dir.Write("slurm.conf", config);
    // In the foreground, so that they are this process's children; their
    // words go to a file, as nothing reads a pipe from them.
    auto daemon = [&](Program& p, const std::string& command) {
      return p.start({"/bin/sh", "-c", "exec " + command + " >>" + dir.File("daemons.log") + " 2>&1"});
    };
    if (!daemon(munge, "/usr/sbin/munged -F --key-file=" + dir.File("munge.key") + " --socket=" +
                           dir.File("munge.socket") + " --pid-file=" + dir.File("munged.pid") + " --seed-file=" +
                           dir.File("munge.seed") + " --log-file=" + dir.File("munged.log")))
      return false;
    for (int i = 0; i < 50 && !std::filesystem::exists(dir.File("munge.socket")); ++i) inthread_sleep(100);
    if (!munge.running() || !daemon(controller, "/usr/sbin/slurmctld -D -f " + conf) ||
        !daemon(node, "/usr/sbin/slurmd -D -f " + conf))
      return false;
    for (double end = get_milliseconds() + 30000; get_milliseconds() < end; inthread_sleep(100))
      if (system((env + " sinfo -h -o %T 2>/dev/null | grep -qx idle").c_str()) == 0) return true;
    return false;
  }

  ~SlurmCluster() {
    if (node.running()) {
      system((env + " scancel --user=root").c_str());
      for (double end = get_milliseconds() + 30000; get_milliseconds() < end; inthread_sleep(100))
        if (system((env + " squeue -h 2>/dev/null | grep -q .").c_str()) != 0) break;
    }
    for (Program* daemon : {&node, &controller, &munge})
      if (daemon->running()) {
        kill(daemon->pid, SIGTERM);
        daemon->wait_exit(10000);
      }
  }
};

}  // namespace

TEST(Farm, RangesOnLocalSlotsAndOverSshMakeTheFilmOneProcessMakes) {
  TempDir reference, local, remote;
  ASSERT_NO_FATAL_FAILURE(render_reference(reference.path));

  // Two local slots; the job of frames 60 to 119 is killed once, half way.
  Program farm;
  const std::string program = "ZEAL_PROGRAM=" + kPiece;
  ASSERT_TRUE(farm.start({kFarm, "-j", "2", "--draft", "--frames", std::to_string(kFrames), "--chunk", "60",
                          local.path}, {program, "DISPLAY"}, true));
  EXPECT_TRUE(kill_half_way(farm, local.File("parts"), 60, 120));
  ASSERT_EQ(farm.wait_exit(600000), 0) << farm.output;
  // The farm makes no film while a range is missing: the killed one ran again.
  expect_holds_reference(local.File("vv-plume-draft.mp4"), reference.path, kFrames);

  // One range on another machine, reached through ssh.
  LoopbackSsh ssh;
  ASSERT_TRUE(ssh.start()) << ssh.server.output;
  ASSERT_TRUE(farm.start({kFarm, "--sshlogin", "1/" + std::string(getenv("USER") ? getenv("USER") : "root") + "@127.0.0.1",
                          "--draft", "--frames", "60", "--chunk", "60", remote.path},
                         {program, "PARALLEL_SSH=" + ssh.client, "DISPLAY"}, true));
  ASSERT_EQ(farm.wait_exit(600000), 0) << farm.output;
  EXPECT_NE(remote.Read("parts/jobs.log").find("127.0.0.1"), std::string::npos);
  expect_holds_reference(remote.File("vv-plume-draft.mp4"), reference.path, 60);
}

TEST(Farm, RangesAsASlurmJobArrayMakeTheFilmOneProcessMakes) {
  if (geteuid() != 0 || access("/usr/sbin/slurmctld", X_OK) != 0 || access("/usr/sbin/munged", X_OK) != 0)
    GTEST_SKIP() << "a Slurm cluster of the test's own needs root and slurm-wlm and munge (tools/deps.sh)";
  SlurmCluster slurm;
  ASSERT_TRUE(slurm.start()) << slurm.dir.Read("daemons.log") << slurm.dir.Read("slurmctld.log");
  TempDir reference, cluster, failing;
  ASSERT_NO_FATAL_FAILURE(render_reference(reference.path));

  // Four array tasks; the render of frames 60 to 119 is killed half way, and
  // its task renders the range again.
  Program farm;
  ASSERT_TRUE(farm.start({kFarm, "--slurm", "--draft", "--frames", std::to_string(kFrames), "--chunk", "60",
                          cluster.path}, {"ZEAL_PROGRAM=" + kPiece, slurm.env, "DISPLAY"}, true));
  EXPECT_TRUE(kill_half_way(farm, cluster.File("parts"), 60, 120));
  ASSERT_EQ(farm.wait_exit(600000), 0) << farm.output;
  expect_holds_reference(cluster.File("vv-plume-draft.mp4"), reference.path, kFrames);

  // A range that fails every time: the farm names it, and makes no film of
  // the other one.
  std::filesystem::permissions(
      failing.Write("piece", "#!/bin/sh\ncase \" $* \" in *\" --range 1:\"*) exit 3 ;; esac\nexec " + kPiece + " \"$@\"\n"),
      std::filesystem::perms::owner_all);
  ASSERT_TRUE(farm.start({kFarm, "--slurm", "--draft", "--frames", "2", "--chunk", "1", failing.path},
                         {"ZEAL_PROGRAM=" + failing.File("piece"), slurm.env}, true));
  EXPECT_EQ(farm.wait_exit(300000), 1) << farm.output;
  EXPECT_NE(farm.output.find("ERROR: 1 of 2 ranges were not rendered: 1:2 "), std::string::npos) << farm.output;
  EXPECT_TRUE(std::filesystem::exists(failing.File("parts/part-0.mp4")));
  EXPECT_FALSE(std::filesystem::exists(failing.File("vv-plume-draft.mp4")));
}
