// twsvc: the Tarnwick monitoring service program.
#include "rtl/SvcMgr.h"
#include "service/dTWMonitor.h"

int main() {
    ServiceApplication.Initialize();
    ServiceApplication.Title = "Tarnwick";
    Tarnwick = new TTarnwick();
    ServiceApplication.CreateForm(Tarnwick);
    return ServiceApplication.Run();
}
