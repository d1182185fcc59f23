using System.Reflection;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;
using System.Runtime.Loader;

namespace E2E.App;

// Loads the plugin assembly into a collectible context, calls it and unloads it, round after round. The
// memory the process's native heap holds is written to a file after a few rounds and after the last one.
//   plugin [rounds] [figures file]
public static class Plugins
{
    private const int MeasuredAfter = 10;
    private const int CollectAttempts = 100;

    public static void Run(string[] args)
    {
        int rounds = args.Length > 0 ? int.Parse(args[0]) : 50;
        string? figures = args.Length > 1 ? args[1] : null;
        // The two builds in turn: a module may take the id of the one unloaded before.
        string[] paths = { Path.Combine(AppContext.BaseDirectory, "plugin", "Plugin.dll"),
                           Path.Combine(AppContext.BaseDirectory, "plugin2", "Plugin.dll") };
        var lines = new List<string>();
        for (int round = 1; round <= rounds; round++)
        {
            (WeakReference context, int value) = LoadCallUnload(paths[(round - 1) % 2], round);
            Console.WriteLine($"round {round}: {value}{(Collect(context) ? "" : " (not unloaded)")}");
            if (round == MeasuredAfter || round == rounds)
            {
                lines.Add($"{round} {NativeHeapInUse()}");
            }
        }
        if (figures != null)
        {
            File.WriteAllLines(figures, lines);
        }
    }

    [MethodImpl(MethodImplOptions.NoInlining)]
    private static (WeakReference, int) LoadCallUnload(string path, int round)
    {
        var context = new AssemblyLoadContext($"plugin {round}", isCollectible: true);
        Assembly assembly = context.LoadFromAssemblyPath(path);
        MethodInfo run = assembly.GetType("E2E.Plugin.Plugin")!.GetMethod("Run")!;
        int value = (int)run.Invoke(null, new object[] { round })!;
        context.Unload();
        return (new WeakReference(context), value);
    }

    private static bool Collect(WeakReference context)
    {
        for (int attempt = 0; attempt < CollectAttempts && context.IsAlive; attempt++)
        {
            GC.Collect();
            GC.WaitForPendingFinalizers();
        }
        return !context.IsAlive;
    }

    [StructLayout(LayoutKind.Sequential)]
    private struct MallInfo2
    {
        public nuint Arena, OrdBlks, SmBlks, HBlks, HBlkHd, UsmBlks, FsmBlks, UordBlks, FordBlks, KeepCost;
    }

    [DllImport("libc", EntryPoint = "mallinfo2")]
    private static extern MallInfo2 MallInfo();

    // Bytes in use from malloc: small blocks and mapped ones.
    private static ulong NativeHeapInUse()
    {
        MallInfo2 info = MallInfo();
        return info.UordBlks + info.HBlkHd;
    }
}
