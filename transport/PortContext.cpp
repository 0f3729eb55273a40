#include "transport/PortContext.h"

#include <cstdlib>

namespace hsim {

namespace {

// The context the flat interface drives, and the one bound to each thread.
std::atomic<PortContext*> s_Default{nullptr};
thread_local PortContext* t_Bound = nullptr;

}  // namespace

PortContext& CurrentPort()
{
    if (t_Bound != nullptr)
        return *t_Bound;
    PortContext* context = s_Default.load(std::memory_order_acquire);
    if (context == nullptr)
        abort();  // the library is not initialised: nothing can work
    return *context;
}

void SetDefaultContext(PortContext* context)
{
    s_Default.store(context, std::memory_order_release);
}

void BindThread(PortContext* context)
{
    t_Bound = context;
}

ContextBinding::ContextBinding(PortContext& context) : m_Previous(t_Bound)
{
    t_Bound = &context;
}

ContextBinding::~ContextBinding()
{
    t_Bound = m_Previous;
}

}  // namespace hsim
