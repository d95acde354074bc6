#include "upload/drain.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>
#include <variant>

#include "evidence/bag_info.h"
#include "evidence/manifest.h"
#include "link/descriptor.h"
#include "link/trace.h"
#include "upload/store_checks.h"

namespace kbc::upload {
namespace fs = std::filesystem;
namespace {

// The queue's line of an object stored.
std::string object_line(const std::string& key, const NotedObject& noted) {
  return "object " + noted.sha256 + " " + std::to_string(noted.size) + " " + noted.version + " " +
         noted.retain_until + " " + evidence::manifest_path(key);
}

// The drain of one queue: a bag at a time, each bag's objects over the settings' connections.
class Drain {
 public:
  Drain(const UploadQueue& queue, const UploadRun& run)
      : queue_(queue),
        run_(run),
        shared_{run.pause, run.io, run.events.sent},
        main_(run.client, shared_) {}

  // `each(connection, i)` for every i below `count`, over up to the settings' connections at
  // once, each taking the next i as it finishes one; after an `each` that returns false no
  // further i is begun.
  void on_connections(std::size_t count,
                      const std::function<bool(Connection&, std::size_t)>& each) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stopped{false};
    const auto work = [&](Connection& connection) {
      for (std::size_t i = next++; i < count && !stopped; i = next++) {
        if (!each(connection, i)) {
          stopped = true;
        }
      }
    };
    const auto more = std::min<std::size_t>(
        static_cast<std::size_t>(std::max(run_.settings.connections, 1)) - 1, count);
    std::vector<std::unique_ptr<S3Client>> clients;
    std::vector<std::unique_ptr<Connection>> connections;
    for (std::size_t i = 0; i < more; ++i) {
      clients.push_back(std::make_unique<S3Client>(run_.client.account()));
      connections.push_back(std::make_unique<Connection>(*clients.back(), shared_));
    }
    std::vector<std::jthread> threads;
    for (const auto& connection : connections) {
      threads.emplace_back([&work, &connection] { work(*connection); });
    }
    work(main_);
  }

  std::optional<Uploaded> bucket_problem() {
    S3Client& client = main_.client();
    const S3Response head = main_.tried([&] { return client.request("HEAD", "", "", {}); });
    if (head.ok()) {
      return std::nullopt;
    }
    Failure failed;
    if (head.status == 404) {
      const S3Response made = main_.tried([&] {
        return client.request("PUT", "", "", {"x-amz-bucket-object-lock-enabled: true"});
      });
      if (made.ok() || made.code() == "BucketAlreadyOwnedByYou") {
        return std::nullopt;
      }
      failed = failure("", made, "the bucket cannot be made");
    } else {
      failed = failure("", head, "the bucket cannot be reached");
    }
    Uploaded result;
    result.permanent = failed.permanent;
    result.unreachable = failed.unreachable;
    result.problem = failed.problem;
    return result;
  }

  Uploaded upload_bag(const fs::path& state_file) {
    const QueueState state = read_state(state_file);
    Uploaded result;
    result.bag = state_file.stem().string();
    if (!state.bag) {
      return stopped(state_file, std::move(result), refusal("its state file names no bag"));
    }
    const fs::path bag = queue_.store().root() / *state.bag;
    result.path = bag;
    // Multipart uploads a crash left open end first: none is ever left behind.
    for (const auto& [id, key] : state.open_uploads) {
      main_.abort(state_file, key, id);
    }
    auto listed = objects_of(bag);
    if (auto* problem = std::get_if<std::string>(&listed)) {
      return stopped(state_file, std::move(result), refusal(*problem));
    }
    const std::vector<Object>& objects = std::get<std::vector<Object>>(listed);
    const std::string retain =
        evidence::iso_utc(run_.now + std::chrono::days(run_.settings.retention_days));
    // Each object as the store has it now, or what stopped it.
    std::vector<std::variant<NotedObject, Failure>> noted(objects.size());
    on_connections(objects.size(), [&](Connection& connection, std::size_t i) {
      noted[i] = stored_version(connection, state_file, state, bag, objects[i], retain);
      return std::holds_alternative<NotedObject>(noted[i]);
    });
    for (auto& object : noted) {
      if (auto* failed = std::get_if<Failure>(&object)) {
        return stopped(state_file, std::move(result), std::move(*failed));
      }
    }
    std::vector<NotedObject> at_store;
    for (std::size_t i = 0; i < objects.size(); ++i) {
      const NotedObject& object = std::get<NotedObject>(noted[i]);
      at_store.push_back(object);
      ++result.objects;
      result.bytes += objects[i].size;
      result.listed.push_back(key_of(bag, objects[i]) + " " + object.version + " " + object.sha256);
    }
    // Stored only once every object is verified at the store itself.
    if (const auto problems = verify(bag, objects, at_store); !problems.empty()) {
      return stopped(state_file, std::move(result), refusal(problems.front()));
    }
    if (const int error =
            append_state(state_file, "stored " + retain + " " + evidence::iso_utc(run_.now));
        error != 0) {
      return stopped(state_file, std::move(result),
                     Failure{false, state_file.string() + ": " + std::strerror(error)});
    }
    result.stored = true;
    result.retain_until = retain;
    // Out of the waiting ones; a crash before it is mended by the next drain's repair.
    if (const int error = queue_.settle(result.bag); error != 0) {
      link::tracef("The stored bag %s stays among the waiting ones for now: %s", result.bag.c_str(),
                   std::strerror(error));
    }
    if (run_.events.finished) {
      run_.events.finished(result);
    }
    return result;
  }

  // Every object checked at the store, over the connections at once: the problems, in the
  // objects' order.
  std::vector<std::string> verify(const fs::path& bag, const std::vector<Object>& objects,
                                  const std::vector<NotedObject>& noted) {
    std::vector<std::optional<std::string>> found(objects.size());
    on_connections(objects.size(), [&](Connection& connection, std::size_t i) {
      found[i] = problem_at_store(connection, key_of(bag, objects[i]), objects[i], noted[i],
                                  run_.settings.verify);
      return true;
    });
    std::vector<std::string> problems;
    for (auto& problem : found) {
      if (problem) {
        problems.push_back(std::move(*problem));
      }
    }
    return problems;
  }

  std::string key_of(const fs::path& bag, const Object& object) const {
    return object_key(run_.settings, queue_.store(), bag, object.file);
  }

 private:
  // The object as the store has it: noted by an earlier run, found there, or sent now; or what
  // stopped it. A store's answer that cannot be noted is no answer.
  std::variant<NotedObject, Failure> stored_version(Connection& connection,
                                                    const fs::path& state_file,
                                                    const QueueState& state, const fs::path& bag,
                                                    const Object& object,
                                                    const std::string& retain) {
    const std::string key = key_of(bag, object);
    const auto done = state.objects.find(key);
    if (done != state.objects.end() && done->second.sha256 == object.sha256) {
      NotedObject noted = done->second;
      noted.size = object.size;
      return noted;
    }
    NotedObject noted{object.sha256, object.size, {}, retain};
    if (auto there = connection.already_there(key, object, retain)) {
      // Stored by a run that ended before it noted it: not sent again.
      noted.version = *there;
    } else {
      auto sent = connection.send(state_file, bag, key, object, retain);
      if (auto* failed = std::get_if<Failure>(&sent)) {
        return std::move(*failed);
      }
      noted.version = std::get<std::string>(sent);
    }
    if (const int error = append_state(state_file, object_line(key, noted)); error != 0) {
      return Failure{false, state_file.string() + ": " + std::strerror(error)};
    }
    return noted;
  }

  // The bag not stored this time: its problem noted in its state and told.
  Uploaded stopped(const fs::path& state_file, Uploaded result, Failure failed) {
    result.permanent = failed.permanent;
    result.unreachable = failed.unreachable;
    result.problem = std::move(failed.problem);
    append_state(state_file, "error " + evidence::manifest_path(*result.problem));
    append_state(state_file, "failed " + evidence::iso_utc(run_.now));
    if (run_.events.finished) {
      run_.events.finished(result);
    }
    return result;
  }

  const UploadQueue& queue_;
  const UploadRun& run_;
  Shared shared_;
  Connection main_;
};

}  // namespace

Drained drain(const UploadQueue& queue, const UploadRun& run) {
  Drained drained;
  // Two drains at once would both find an object missing and both send it. The lock goes with
  // the process, a crash included.
  queue.make_folder();
  const link::Descriptor lock(::open(queue.folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (lock.get() >= 0 && ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    drained.busy = "another upload is draining the queue in " + queue.folder().string();
    return drained;
  }
  drained.repaired = queue.repair();
  const std::vector<QueuedBag> bags = queue.bags();
  if (bags.empty()) {
    return drained;
  }
  Drain draining(queue, run);
  if (auto problem = draining.bucket_problem()) {
    drained.bucket = std::move(problem);
    return drained;
  }
  for (const QueuedBag& bag : bags) {
    if (bag.failed_at && run.now < *bag.failed_at + backoff(bag.failures)) {
      Uploaded deferred;
      deferred.bag = bag.name;
      deferred.path = bag.bag;
      deferred.problem = bag.error;
      deferred.deferred_until = *bag.failed_at + backoff(bag.failures);
      drained.bags.push_back(std::move(deferred));
      continue;
    }
    drained.bags.push_back(draining.upload_bag(queue.state_file(bag.name)));
    // The store out of reach: the next drain tries again.
    if (drained.bags.back().unreachable) {
      break;
    }
  }
  return drained;
}

std::vector<std::string> check_remote(const fs::path& bag, const UploadQueue& queue,
                                      const UploadRun& run) {
  const std::string name = bag.filename().string();
  const fs::path state_file = queue.state_file(name);
  std::error_code error;
  if (!fs::is_regular_file(state_file, error)) {
    return {name + ": the upload queue has no record of this bag"};
  }
  const QueueState state = read_state(state_file);
  if (!state.stored || !state.bag) {
    return {name + ": not stored at the object store yet"};
  }
  const fs::path in_store = queue.store().root() / *state.bag;
  Drain draining(queue, run);
  std::vector<Object> objects;
  std::vector<NotedObject> noted;
  std::vector<std::string> problems;
  if (fs::exists(in_store, error)) {
    auto listed = objects_of(in_store);
    if (auto* problem = std::get_if<std::string>(&listed)) {
      return {*problem};
    }
    for (const Object& object : std::get<std::vector<Object>>(listed)) {
      const auto found = state.objects.find(draining.key_of(in_store, object));
      if (found == state.objects.end()) {
        problems.push_back(draining.key_of(in_store, object) + ": the queue noted no version");
        continue;
      }
      objects.push_back(object);
      noted.push_back(found->second);
    }
  } else {
    // Removed from the station: what the queue noted at the upload is all there is to hold the
    // store's copy against.
    const std::string prefix = draining.key_of(in_store, Object{});
    for (const auto& [key, object] : state.objects) {
      if (key.starts_with(prefix)) {
        objects.push_back({key.substr(prefix.size()), object.sha256, object.size});
        noted.push_back(object);
      }
    }
  }
  for (std::string& problem : draining.verify(in_store, objects, noted)) {
    problems.push_back(std::move(problem));
  }
  return problems;
}

}  // namespace kbc::upload
