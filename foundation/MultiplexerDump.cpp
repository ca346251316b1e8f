// The event loop's status text: its duration statistics, the profiling points and one table
// row per named descriptor event.
#include <poll.h>

#include <ostream>
#include <string>

#include "foundation/Profile.h"
#include "foundation/Event.h"
#include "foundation/Multiplexer.h"
#include "foundation/PollEventAsText.h"
#include "foundation/Table.h"

std::string PollEventAsText(short events) {
  static const struct {
    short bit;
    const char* name;
  } names[] = {{0x001, "|POLLIN"},     {0x002, "|POLLPRI"},    {0x004, "|POLLOUT"},
               {0x008, "|POLLERR"},    {0x010, "|POLLHUP"},    {0x020, "|POLLNVAL"},
               {0x040, "|POLLRDNORM"}, {0x080, "|POLLRDBAND"}, {0x100, "|POLLWRNORM"},
               {0x200, "|POLLWRBAND"}, {0x400, "|POLLMSG"}};
  std::string text;
  for (const auto& n : names)
    if (events & n.bit) text += n.name;
  if (!text.empty()) text.erase(0, 1);
  return text;
}

void Multiplexer::dump(std::ostream& os) const {
  os << "dpc transition measurement (min/max/cur/counter): " << dpc_measure_ << std::endl;
  os << "event transition measurement (min/max/cur/counter): " << event_measure_ << std::endl;
  os << "timer transition measurement (min/max/cur/counter): " << timer_measure_ << std::endl;
  Profile::dump(os);

  ext::Table table(40, 30, 10, 10, 5, 60);
  {
    ext::Table::Sentry s(os, table);
    s << ext::delimeter << ext::beginrow << "name" << ext::nextrow << "events" << ext::nextrow << "count"
      << ext::nextrow << "handler" << ext::nextrow << "fd" << ext::nextrow << "measure" << ext::nextrow
      << ext::delimeter;
    // Between passes every handler is in the active list; during a pass the served ones
    // come first and those attached since the pass began last, so this is attach order.
    for (const F_dual_list<EventHandler>* list : {&served_, &active_, &pending_}) {
      for (const EventHandler* h = list->first(); h; h = h->next) {
        if (!h->is_named()) continue;
        const Event* e = dynamic_cast<const Event*>(h);
        s << ext::beginrow << h->event_name() << ext::nextrow;
        if (e) {
          s << PollEventAsText(e->events()) << ext::nextrow << e->counter() << ext::nextrow
            << (e->handler() ? "attached" : "unattached") << ext::nextrow << e->fd() << ext::nextrow
            << e->measure << ext::nextrow;
        }
        table.finalize(os);
      }
    }
    s << ext::delimeter;
  }
  os << std::endl;
}
