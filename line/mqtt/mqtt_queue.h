// The call events on their way to the broker: kept in their order until the
// broker has acknowledged each, so that none sent just before a connection
// broke is lost; bounded, with the events that did not fit counted.
#ifndef ANNC_LINE_MQTT_MQTT_QUEUE_H_
#define ANNC_LINE_MQTT_MQTT_QUEUE_H_

#include <cstddef>
#include <deque>
#include <optional>
#include <string>

namespace annc {

class EventQueue {
 public:
  static constexpr std::size_t kDefaultCapacity = 4096;

  explicit EventQueue(std::size_t capacity = kDefaultCapacity) : capacity_(capacity) {}

  // Adds an event at the end; false (and counted) when the queue is full.
  bool Push(std::string payload);
  // The oldest event not yet handed to the connection, or null.
  const std::string* NextUnsent() const;
  // The event NextUnsent gave is on its way as message `mid`.
  void Sent(int mid);
  // The broker has the message `mid`: its event leaves the queue.
  void Acked(int mid);
  // The connection broke: every event still here goes again, in order.
  void Unsend();

  std::size_t size() const { return events_.size(); }
  std::size_t unacked() const { return sent_; }
  // The events that did not fit since the last call, which forgets them.
  std::size_t TakeDropped();

 private:
  struct Event {
    std::string payload;
    std::optional<int> mid;  // set while on its way
  };
  std::size_t capacity_;
  std::deque<Event> events_;
  std::size_t sent_ = 0;  // events_ starts with this many on their way
  std::size_t dropped_ = 0;
};

}  // namespace annc

#endif  // ANNC_LINE_MQTT_MQTT_QUEUE_H_
