// Module set-up: bound names, the signal relay and the Panelor class.
#include "panelor.hpp"

NB_MODULE(panelor, m) {
    m.doc() = "Viewer toolbar: the Panelor widget and its view-control signals.";

    morvik::bind_host_names();
    morvik::panelor::bind_slot_relay();
    morvik::panelor::bind_panelor(m);
}
