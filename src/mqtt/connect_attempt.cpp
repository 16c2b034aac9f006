#include "mqtt/connect_attempt.h"

#include <fcntl.h>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

struct ConnectAttempt {
    // Shared by the loop and the thread: whichever lets go last releases it.
    struct State {
        mosquitto *client = nullptr;
        std::string host;
        int port = 0;
        int keepalive = 0;
        std::uint32_t maxPacketSize = 0;
        int result = MOSQ_ERR_SUCCESS;
        std::string error;
        int pipe[2] = {-1, -1};
        std::atomic<bool> over{false};

        ~State() {
            if (client != nullptr) {
                mosquitto_destroy(client);
            }
            for (int end : pipe) {
                if (end >= 0) {
                    close(end);
                }
            }
        }
    };
    std::shared_ptr<State> state;
    std::thread thread;
};

namespace {

void Connect(const std::shared_ptr<ConnectAttempt::State> &state) {
    mosquitto_property *properties = nullptr;
    int result =
        mosquitto_property_add_int32(&properties, MQTT_PROP_MAXIMUM_PACKET_SIZE, state->maxPacketSize);
    if (result == MOSQ_ERR_SUCCESS) {
        // Blocking here is the point: resolving and connecting wait on this
        // thread. libmosquitto makes the socket non-blocking once connected.
        result = mosquitto_connect_bind_v5(state->client, state->host.c_str(), state->port, state->keepalive,
                                           nullptr, properties);
    }
    // errno belongs to this thread: the reason is put into words here.
    state->error = result == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(result);
    mosquitto_property_free_all(&properties);
    state->result = result;
    state->over.store(true);
    char byte = 1;
    ssize_t written = write(state->pipe[1], &byte, 1);
    (void)written;
}

void Release(ConnectAttempt **attempt) {
    delete *attempt;
    *attempt = nullptr;
}

}  // namespace

ConnectAttempt *StartConnect(mosquitto *client, const std::string &host, int port, int keepalive,
                             std::uint32_t maxPacketSize, std::string *error) {
    auto state = std::make_shared<ConnectAttempt::State>();
    if (pipe2(state->pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return nullptr;
    }
    state->host = host;
    state->port = port;
    state->keepalive = keepalive;
    state->maxPacketSize = maxPacketSize;
    state->client = client;
    auto *attempt = new ConnectAttempt;
    attempt->state = state;
    try {
        attempt->thread = std::thread(Connect, state);
    } catch (const std::system_error &failure) {
        state->client = nullptr;  // still the caller's
        *error = std::string("cannot start a thread: ") + failure.what();
        delete attempt;
        return nullptr;
    }
    return attempt;
}

int ConnectAttemptFd(const ConnectAttempt *attempt) {
    return attempt->state->pipe[0];
}

bool FinishConnect(ConnectAttempt **attempt, mosquitto **client, int *result, std::string *error) {
    ConnectAttempt::State &state = *(*attempt)->state;
    if (!state.over.load()) {
        return false;
    }
    (*attempt)->thread.join();
    *client = state.client;
    state.client = nullptr;
    *result = state.result;
    *error = state.error;
    Release(attempt);
    return true;
}

bool AbandonConnect(ConnectAttempt **attempt) {
    bool running = !(*attempt)->state->over.load();
    if (running) {
        (*attempt)->thread.detach();
    } else {
        (*attempt)->thread.join();
    }
    Release(attempt);
    return running;
}
