// twsvc: the Tarnwick monitoring service program.
#include "config/TarnwickConfigRegAdapter.h"
#include "rtl/SvcMgr.h"
#include "service/dTWMonitor.h"

int main() {
    ServiceApplication.Initialize();
    ServiceApplication.Title = TarnwickServiceName;
    Tarnwick = new TTarnwick();
    ServiceApplication.CreateForm(Tarnwick);
    return ServiceApplication.Run();
}
