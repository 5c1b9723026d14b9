#include "lumetrove/app/AppState.h"

namespace lumetrove {

AppState& AppState::shared()
{
    // Never destroyed: views may still disconnect from it while the application object goes away.
    static AppState* instance = new AppState;
    return *instance;
}

} // namespace lumetrove
