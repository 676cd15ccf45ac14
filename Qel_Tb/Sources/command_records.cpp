// command_records.cpp - command records holding a command both coded and raw.
#include "Qel_Tb.h"
#include "command_coder.h"
#include "handle_table.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace
{
typedef struct
{
    unsigned char* pubCoded; // coded text, zero-terminated
    int nCoded;
    unsigned char* pubRaw; // raw command bytes
    int nRaw;
} TS_QELTB_COMMAND, *PS_QELTB_COMMAND;

LoHandleTable<TS_QELTB_COMMAND> lo_commands;

void lo_release(PS_QELTB_COMMAND psCmd)
{
    if (psCmd == nullptr)
        return;
    std::free(psCmd->pubCoded);
    std::free(psCmd->pubRaw);
    std::free(psCmd);
}

// Allocates a record with buffers of the given sizes; null if any fails.
PS_QELTB_COMMAND lo_allocate(std::size_t coded_size, std::size_t raw_size)
{
    auto psCmd = static_cast<PS_QELTB_COMMAND>(std::calloc(1, sizeof(TS_QELTB_COMMAND)));
    if (psCmd == nullptr)
        return nullptr;
    psCmd->pubCoded = static_cast<unsigned char*>(std::malloc(coded_size));
    psCmd->pubRaw = static_cast<unsigned char*>(std::malloc(raw_size));
    if (psCmd->pubCoded == nullptr || psCmd->pubRaw == nullptr)
    {
        lo_release(psCmd);
        return nullptr;
    }
    return psCmd;
}

int lo_register(PS_QELTB_COMMAND psCmd)
{
    const int cmd = lo_commands.insert(psCmd);
    if (cmd == 0)
        lo_release(psCmd);
    return cmd;
}
} // namespace

extern "C" int qel_tb_cmd_init_coded(const unsigned char* cmd_ptr, unsigned int cmd_size)
{
    // nCoded is an int: larger texts cannot be described by the record.
    if (cmd_ptr == nullptr || cmd_size == 0 || cmd_size > INT_MAX / 2)
        return 0;
    PS_QELTB_COMMAND psCmd = lo_allocate(std::size_t{cmd_size} + 1, std::size_t{cmd_size} * 2);
    if (psCmd == nullptr)
        return 0;
    std::memcpy(psCmd->pubCoded, cmd_ptr, cmd_size);
    psCmd->pubCoded[cmd_size] = '\0';
    psCmd->nCoded = static_cast<int>(cmd_size);
    psCmd->nRaw = static_cast<int>(Lo_CmdDecode(cmd_ptr, cmd_size, psCmd->pubRaw));
    return lo_register(psCmd);
}

extern "C" int qel_tb_cmd_init_raw(const unsigned char* cmd_ptr, unsigned int cmd_size)
{
    if (cmd_ptr == nullptr || cmd_size == 0 || cmd_size > (INT_MAX - 3) / 3)
        return 0;
    PS_QELTB_COMMAND psCmd = lo_allocate(std::size_t{cmd_size} * 3 + 3, cmd_size);
    if (psCmd == nullptr)
        return 0;
    std::memcpy(psCmd->pubRaw, cmd_ptr, cmd_size);
    psCmd->nRaw = static_cast<int>(cmd_size);
    psCmd->nCoded = static_cast<int>(Lo_CmdEncode(cmd_ptr, cmd_size, psCmd->pubCoded));
    return lo_register(psCmd);
}

extern "C" int qel_tb_cmd_get_raw(int cmd, unsigned char** cmd_ptr, unsigned int* cmd_size)
{
    PS_QELTB_COMMAND psCmd = lo_commands.find(cmd);
    if (psCmd == nullptr || cmd_ptr == nullptr || cmd_size == nullptr)
        return 0;
    *cmd_ptr = psCmd->pubRaw;
    *cmd_size = static_cast<unsigned int>(psCmd->nRaw);
    return 1;
}

extern "C" int qel_tb_cmd_get_coded(int cmd, unsigned char** cmd_ptr, unsigned int* cmd_size)
{
    PS_QELTB_COMMAND psCmd = lo_commands.find(cmd);
    if (psCmd == nullptr || cmd_ptr == nullptr || cmd_size == nullptr)
        return 0;
    *cmd_ptr = psCmd->pubCoded;
    *cmd_size = static_cast<unsigned int>(psCmd->nCoded);
    return 1;
}

extern "C" int qel_tb_cmd_get_coded_str(int cmd, char** ppszStr)
{
    PS_QELTB_COMMAND psCmd = lo_commands.find(cmd);
    if (psCmd == nullptr || ppszStr == nullptr)
        return 0;
    *ppszStr = reinterpret_cast<char*>(psCmd->pubCoded);
    return 1;
}

extern "C" void qel_tb_cmd_exit(int cmd)
{
    lo_release(lo_commands.remove(cmd));
}
