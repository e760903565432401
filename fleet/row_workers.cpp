// Worker processes for the fleet report. The parent finds the inputs and
// writes the report; each worker reads input paths from a pipe and answers
// each with its row, in order, as one frame (the row's json content in a
// binary form that keeps every byte of its texts, so a row reads the same
// whichever process made it). The parent never blocks on a pipe: it
// polls, so a worker that is busy writing a long row can never stall the
// hand-out of inputs to the others.
#include "fleet/row_workers.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "fleet/row_codec.h"

namespace fleet {
namespace {

using Clock = std::chrono::steady_clock;

// Frames: a 4-byte little-endian length, then that many bytes.
void AppendFrame(const std::string &text, std::string *out) {
  uint32_t size = static_cast<uint32_t>(text.size());
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((size >> (8 * i)) & 0xFF));
  *out += text;
}

enum class Frame { Whole, Partial, Oversized };

// Takes one whole frame off the front of `buffer`.
Frame TakeFrame(std::string *buffer, std::string *text) {
  if (buffer->size() < 4) return Frame::Partial;
  uint32_t size = 0;
  for (int i = 0; i < 4; ++i) size |= static_cast<uint32_t>(static_cast<uint8_t>((*buffer)[i])) << (8 * i);
  if (size > ROW_FRAME_LIMIT) return Frame::Oversized;
  if (buffer->size() - 4 < size) return Frame::Partial;
  text->assign(*buffer, 4, size);
  buffer->erase(0, 4 + size);
  return Frame::Whole;
}

bool ReadAll(int fd, void *bytes, size_t size) {
  uint8_t *p = static_cast<uint8_t *>(bytes);
  while (size > 0) {
    ssize_t got = read(fd, p, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

bool WriteAll(int fd, const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

[[noreturn]] void WorkerLoop(int in, int out, const FleetSettings &settings) {
  signal(SIGPIPE, SIG_IGN);
  for (;;) {
    uint8_t head[4];
    if (!ReadAll(in, head, sizeof(head))) _exit(0);
    uint32_t size = head[0] | head[1] << 8 | head[2] << 16 | static_cast<uint32_t>(head[3]) << 24;
    std::string path(size, '\0');
    if (!ReadAll(in, &path[0], size)) _exit(0);
    if (gRowWorkerFault != nullptr && gRowWorkerFault(path, out)) continue;
    std::string frame;
    AppendFrame(RowToTransport(MakeFleetRow(path, settings)), &frame);
    if (!WriteAll(out, frame)) _exit(0);
  }
}

struct Worker {
  pid_t pid = -1;
  int to = -1;    // the worker's input paths
  int from = -1;  // its rows
  std::string outgoing, incoming;
  std::deque<size_t> owed;  // input numbers sent and not yet answered, in order
  Clock::time_point since;  // when the worker came to the first of them
};

struct Pool {
  const FleetSettings &settings;
  std::chrono::milliseconds row_limit;
  std::vector<Worker> workers;
  std::map<size_t, std::string> inputs;  // input number -> path, while in flight
  std::map<size_t, FleetRow> ready;      // rows made, waiting for earlier ones
};

void Close(int *fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

bool Start(Pool *pool, Worker *worker) {
  int to[2], from[2];
  if (pipe(to) != 0) return false;
  if (pipe(from) != 0) {
    close(to[0]);
    close(to[1]);
    return false;
  }
  pid_t pid = fork();
  if (pid < 0) {
    for (int fd : {to[0], to[1], from[0], from[1]}) close(fd);
    return false;
  }
  if (pid == 0) {
    close(to[1]);
    close(from[0]);
    // The other workers' pipes belong to the parent alone: a worker that
    // kept them open would hold off the end-of-input another one waits for.
    for (Worker &other : pool->workers) {
      if (&other == worker) continue;
      if (other.to >= 0) close(other.to);
      if (other.from >= 0) close(other.from);
    }
    WorkerLoop(to[0], from[1], pool->settings);
  }
  close(to[0]);
  close(from[1]);
  fcntl(to[1], F_SETFL, O_NONBLOCK);
  fcntl(from[0], F_SETFL, O_NONBLOCK);
  fcntl(to[1], F_SETFD, FD_CLOEXEC);
  fcntl(from[0], F_SETFD, FD_CLOEXEC);
  worker->pid = pid;
  worker->to = to[1];
  worker->from = from[0];
  worker->outgoing.clear();
  worker->incoming.clear();
  return true;
}

void Send(Pool *pool, Worker *worker, size_t number) {
  if (worker->owed.empty()) worker->since = Clock::now();
  worker->owed.push_back(number);
  AppendFrame(pool->inputs[number], &worker->outgoing);
}

FleetRow ErrorRow(const std::string &input, const std::string &error) {
  FleetRow row;
  row.input = input;
  row.error = error;
  return row;
}

std::string LimitText(std::chrono::milliseconds limit) {
  long long ms = static_cast<long long>(limit.count());
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

// A worker ended before answering, or was ended: the input it was on is
// the cause and becomes an error row, never made again (here it could take
// the report down with it); the ones queued behind it go to a fresh worker
// (or are made here, when no process can be started). `why` empty: the
// worker ended by itself, and how it ended says why.
void Replace(Pool *pool, Worker *worker, std::string why = std::string()) {
  if (!why.empty()) kill(worker->pid, SIGKILL);
  int status = 0;
  waitpid(worker->pid, &status, 0);
  Close(&worker->to);
  Close(&worker->from);
  worker->pid = -1;
  bool halfway = !worker->incoming.empty();
  worker->incoming.clear();
  worker->outgoing.clear();
  std::deque<size_t> owed;
  owed.swap(worker->owed);
  if (owed.empty()) return;
  size_t culprit = owed.front();
  owed.pop_front();
  if (why.empty()) {
    why = WIFSIGNALED(status) ? "making this row ended with signal " + std::to_string(WTERMSIG(status))
          : halfway           ? "the worker process ended halfway through this row"
                              : "making this row ended the worker process";
  }
  pool->ready[culprit] = ErrorRow(pool->inputs[culprit], why);
  if (owed.empty()) return;
  if (!Start(pool, worker)) {
    for (size_t number : owed) pool->ready[number] = MakeFleetRow(pool->inputs[number], pool->settings);
    return;
  }
  for (size_t number : owed) Send(pool, worker, number);
}

void Receive(Pool *pool, Worker *worker) {
  std::string text;
  while (!worker->owed.empty()) {
    Frame frame = TakeFrame(&worker->incoming, &text);
    if (frame == Frame::Partial) break;
    if (frame == Frame::Oversized) {
      Replace(pool, worker, "a worker sent a damaged row");
      return;
    }
    size_t number = worker->owed.front();
    worker->owed.pop_front();
    worker->since = Clock::now();
    FleetRow row;
    if (!RowFromTransport(text, &row)) row = ErrorRow(pool->inputs[number], "a worker sent a damaged row");
    pool->ready[number] = std::move(row);
  }
}

// How long the next poll may wait: until the first worker runs out of time
// on its row; -1 (for ever) when no worker owes a row.
int PollTimeout(const Pool &pool) {
  bool any = false;
  Clock::time_point first;
  for (const Worker &worker : pool.workers) {
    if (worker.pid < 0 || worker.owed.empty()) continue;
    Clock::time_point end = worker.since + pool.row_limit;
    if (!any || end < first) first = end;
    any = true;
  }
  if (!any) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(first - Clock::now()).count();
  // Rounded up, so a wake-up never comes before the end it waits for.
  return left <= 0 ? 0 : static_cast<int>(left + 1);
}

// One round of pipe traffic: writes what waits to be sent, reads what has
// come, replaces workers that ended.
void Pump(Pool *pool) {
  std::vector<pollfd> fds;
  std::vector<Worker *> owners;
  for (Worker &worker : pool->workers) {
    if (worker.pid < 0) continue;
    if (!worker.outgoing.empty()) {
      fds.push_back(pollfd{worker.to, POLLOUT, 0});
      owners.push_back(&worker);
    }
    fds.push_back(pollfd{worker.from, POLLIN, 0});
    owners.push_back(&worker);
  }
  if (fds.empty()) return;
  if (poll(fds.data(), fds.size(), PollTimeout(*pool)) < 0) return;  // EINTR: the caller comes round again
  for (size_t i = 0; i < fds.size(); ++i) {
    Worker *worker = owners[i];
    if (worker->pid < 0 || fds[i].revents == 0) continue;
    if (fds[i].fd == worker->to) {
      ssize_t put = write(worker->to, worker->outgoing.data(), worker->outgoing.size());
      if (put > 0) worker->outgoing.erase(0, static_cast<size_t>(put));
      continue;
    }
    char buffer[65536];
    ssize_t got = read(worker->from, buffer, sizeof(buffer));
    if (got > 0) {
      worker->incoming.append(buffer, static_cast<size_t>(got));
      Receive(pool, worker);
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
      Replace(pool, worker);
    }
  }
  Clock::time_point now = Clock::now();
  for (Worker &worker : pool->workers) {
    if (worker.pid < 0 || worker.owed.empty() || now - worker.since < pool->row_limit) continue;
    Replace(pool, &worker,
            "making this row took longer than " + LimitText(pool->row_limit) +
                "; its worker process was stopped");
  }
}

Worker *LeastBusy(Pool *pool) {
  Worker *best = nullptr;
  for (Worker &worker : pool->workers) {
    if (worker.pid < 0) continue;
    if (best == nullptr || worker.owed.size() < best->owed.size()) best = &worker;
  }
  return best;
}

}  // namespace

bool (*gRowWorkerFault)(const std::string &path, int rows_fd) = nullptr;

void MakeRows(sim::SmbiosInputSearch *search, const FleetSettings &settings, unsigned jobs,
              const std::function<bool(const FleetRow &row)> &sink,
              std::chrono::milliseconds row_limit) {
  std::string path;
  if (jobs <= 1) {
    while (search->Next(&path)) {
      if (!sink(MakeFleetRow(path, settings))) return;
    }
    return;
  }

  // A worker's write to a parent that has gone must not kill the parent's
  // own output handling; each side sees EPIPE instead.
  struct sigaction ignore = {}, previous = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);

  Pool pool{settings, row_limit, std::vector<Worker>(jobs), {}, {}};
  size_t started = 0;
  for (Worker &worker : pool.workers) started += Start(&pool, &worker);
  size_t next = 0, emitted = 0;
  bool more = true, wanted = true;
  while (wanted) {
    while (more && next - emitted < static_cast<size_t>(jobs) * ROWS_IN_FLIGHT_PER_JOB) {
      if (!search->Next(&path)) {
        more = false;
        break;
      }
      pool.inputs[next] = path;
      Worker *worker = started > 0 ? LeastBusy(&pool) : nullptr;
      if (worker != nullptr) {
        Send(&pool, worker, next);
      } else {
        pool.ready[next] = MakeFleetRow(path, settings);
      }
      ++next;
    }
    for (auto it = pool.ready.find(emitted); wanted && it != pool.ready.end();
         it = pool.ready.find(emitted)) {
      wanted = sink(it->second);
      pool.ready.erase(it);
      pool.inputs.erase(emitted);
      ++emitted;
    }
    if (!wanted || (!more && emitted == next)) break;
    // Rows emitted just now may have made room for more inputs; waiting on
    // the workers before handing those out would wait on idle workers.
    if (more && next - emitted < static_cast<size_t>(jobs) * ROWS_IN_FLIGHT_PER_JOB) continue;
    if (LeastBusy(&pool) == nullptr) {
      // Every worker is gone and none could be started again.
      for (auto &input : pool.inputs) {
        if (!pool.ready.count(input.first)) {
          pool.ready[input.first] = MakeFleetRow(input.second, settings);
        }
      }
      continue;
    }
    Pump(&pool);
  }
  // Closing a worker's input pipe is its signal to end. One still on a row
  // (the sink stopped the work early) may be on it for good: it is ended.
  for (Worker &worker : pool.workers) {
    Close(&worker.to);
    Close(&worker.from);
    if (worker.pid > 0 && !worker.owed.empty()) kill(worker.pid, SIGKILL);
    if (worker.pid > 0) waitpid(worker.pid, nullptr, 0);
  }
  sigaction(SIGPIPE, &previous, nullptr);
}

}  // namespace fleet
