// A plug-in built against a host function no host offers: it exports
// get_providers, but the loader must refuse it when it is opened, naming
// the function, rather than at the first call.
extern "C" int qorv_check_absent_host_call();

extern "C" int get_providers() { return qorv_check_absent_host_call(); }
