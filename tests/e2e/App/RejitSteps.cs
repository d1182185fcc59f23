using System.Diagnostics;
using System.Runtime.CompilerServices;

namespace E2E.App;

// A method the targets ReJIT and revert, and the marker methods whose first compilation tells them when.
// After each step the program polls the method until it returns the value expected of that step (or
// until the poll times out), then prints what it returns, while other threads keep calling it.
public static class RejitSteps
{
    private const int PollIntervalMs = 20;
    private const int PollTimeoutMs = 10000;
    private const int SettleMs = 100;
    private const int CallerCount = 3;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int Value(bool fail = false)
    {
        if (fail)
        {
            throw ThrowSite.Exception();
        }
        return 1;
    }

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static void Step1() { }

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static void Step2() { }

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static void Step3() { }

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static void Step4() { }

    // args: the value expected after each step, one to four of them.
    public static void Run(string[] args)
    {
        Console.WriteLine($"value = {Value()}");
        using var stop = new CancellationTokenSource();
        var callers = Enumerable.Range(0, CallerCount).Select(i => new Thread(() => Call(stop.Token))
        {
            Name = $"caller {i}"
        }).ToList();
        callers.ForEach(thread => thread.Start());
        for (int step = 1; step <= args.Length; step++)
        {
            RunStep(step);
            Console.WriteLine($"after step {step}: value = {Poll(int.Parse(args[step - 1]))}");
            Console.WriteLine($"after step {step}: thrown {ThrowSite.Check(() => Value(true))}");
        }
        stop.Cancel();
        callers.ForEach(thread => thread.Join());
    }

    private static void RunStep(int step)
    {
        switch (step)
        {
            case 1: Step1(); break;
            case 2: Step2(); break;
            case 3: Step3(); break;
            case 4: Step4(); break;
            default: throw new ArgumentOutOfRangeException(nameof(step));
        }
    }

    private static int Poll(int expected)
    {
        var clock = Stopwatch.StartNew();
        while (Value() != expected && clock.ElapsedMilliseconds < PollTimeoutMs)
        {
            Thread.Sleep(PollIntervalMs);
        }
        Thread.Sleep(SettleMs);
        return Value();
    }

    private static void Call(CancellationToken stop)
    {
        while (!stop.IsCancellationRequested)
        {
            for (int i = 0; i < 100; i++)
            {
                Value();
            }
            Thread.Sleep(1);
        }
    }
}
