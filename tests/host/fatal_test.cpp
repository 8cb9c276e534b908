// The fatal report: its box, its lines, exit code -1, exit routines skipped.
#include <gmock/gmock.h>

#include <cstdio>
#include <new>

#include "app/program.h"
#include "system/fatal.h"
#include "tests/host/test_support.h"

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class FatalTest : public HostTest {};

void SayExitRoutineRan() {
    std::fputs("exit routine ran\n", stderr);
}

TEST_F(FatalTest, ShowsTheErrorBoxWithItsLinesAndExitsWithMinusOneWithoutTheExitRoutine) {
    const std::string box = "[message box: " + Gbk(u8"错误") + "]\n" + Gbk(u8"运行时出错!\r\n错误代码：6\r\n错误信息：") +
                            Gbk(u8"调用DLL命令后发现堆栈错误") + "\r\n" + Gbk(u8"错误位置：") + "host/fatal_test.cpp:";
    EXPECT_EXIT(
        {
            RegisterExitRoutine(SayExitRoutineRan);
            FatalErrorReport(6, Gbk(u8"调用DLL命令后发现堆栈错误"));
        },
        ::testing::ExitedWithCode(255), AllOf(HasSubstr(box), Not(HasSubstr("exit routine ran"))));
}

TEST_F(FatalTest, LeavesOutTheCodeLineForCodeZero) {
    EXPECT_EXIT(FatalErrorReport(0, "x"), ::testing::ExitedWithCode(255),
                AllOf(HasSubstr(Gbk(u8"运行时出错!\r\n错误信息：x\r\n")), Not(HasSubstr(Gbk(u8"错误代码：")))));
}

TEST_F(FatalTest, RefusedAllocationReportsItsByteCount) {
    EXPECT_EXIT(
        {
            SimRefuseAllocationsFrom(5000);
            void* block = ::operator new(123456);
            ::operator delete(block);
        },
        ::testing::ExitedWithCode(255), HasSubstr(Gbk(u8"错误信息：分配 123456 字节内存失败!\r\n")));
}

TEST_F(FatalTest, AllocationsBelowTheRefusalStillWork) {
    SimRefuseAllocationsFrom(5000);
    void* block = ::operator new(4999);
    EXPECT_NE(block, nullptr);
    ::operator delete(block);
}

}  // namespace
