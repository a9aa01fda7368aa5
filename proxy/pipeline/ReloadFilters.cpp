#include "pipeline/ReloadFilters.h"

#include <sievekit/CProxyConfig.h>

#include "net/CLocalProxy.h"

void ReloadFilters(CLocalProxy& owner) {
    CProxyConfig& config = ProxyConfig();
    config.LoadData();
    owner.ReloadUserFilters();
    owner.blockFilter->ReloadData(config.Config().wordListMode.load() == 1);
}
