// The roads a judged request takes. Each serves the connection it is given
// to its end; the worker closes the connection afterwards.
#pragma once

#include <string>
#include <utility>

#include "kernel/options.h"
#include "kernel/thread_args.h"

class Road {
 public:
  virtual ~Road() = default;
  virtual void Serve(ThreadArgs& c) = 0;
};

// To the site itself, or through the upstream proxy (relay.h).
class DirectRoad final : public Road {
 public:
  void Serve(ThreadArgs& c) override;
};

// Through the compression service, or direct when it cannot serve
// (service_link.h).
class ServiceRoad final : public Road {
 public:
  void Serve(ThreadArgs& c) override;
};

// A CONNECT tunnel (https_tunnel.h), with the options the request was
// judged under.
class TunnelRoad final : public Road {
 public:
  explicit TunnelRoad(const Program_Options& po) : po_(po) {}
  void Serve(ThreadArgs& c) override;

 private:
  const Program_Options& po_;  // the caller's; outlives Serve
};

// Sends a fixed answer (may be empty) and nothing more.
class AnswerRoad final : public Road {
 public:
  explicit AnswerRoad(std::string answer) : answer_(std::move(answer)) {}
  void Serve(ThreadArgs& c) override;

 private:
  std::string answer_;
};
