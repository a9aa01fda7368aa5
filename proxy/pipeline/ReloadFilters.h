#pragma once

class CLocalProxy;

// The reload message: configuration, ad-block rules, user lists and block
// words read again while other workers go on classifying.
void ReloadFilters(CLocalProxy& owner);
