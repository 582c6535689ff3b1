#include "NamedMutex.h"

#include <fcntl.h>
#include <semaphore.h>

NamedMutex::NamedMutex(const std::string& name)
    : m_name(name.empty() || name.front() != '/' ? "/" + name : name)
{
    sem_t* sem = sem_open(m_name.c_str(), O_CREAT, 0600, 1);
    if (sem != SEM_FAILED)
        m_handle = sem;
}

NamedMutex::~NamedMutex()
{
    remove();
}

void NamedMutex::remove()
{
    if (m_handle) {
        sem_close(static_cast<sem_t*>(m_handle));
        sem_unlink(m_name.c_str());
        m_handle = nullptr;
    }
}
